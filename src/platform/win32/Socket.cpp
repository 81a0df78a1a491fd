#include "platform/Socket.h"

#include <winsock2.h>

#include <climits>
#include <cstring>

// Winsock error numbers are already the shared vocabulary (Socket.h); they
// pass through unchanged.

namespace vp::platform {

namespace {

SOCKET native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

sockaddr_in toNative(const SocketAddress& address) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = address.port;
    result.sin_addr.s_addr = address.address;
    return result;
}

SocketAddress fromNative(const sockaddr_in& converted) {
    SocketAddress address;
    address.family = static_cast<uint16_t>(converted.sin_family);
    address.port = converted.sin_port;
    address.address = converted.sin_addr.s_addr;
    return address;
}

bool setIntOption(SocketHandle socket, int level, int name, int value) {
    return ::setsockopt(native(socket), level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

int clampedLength(uint32_t length) { return length > INT_MAX ? INT_MAX : static_cast<int>(length); }

} // namespace

bool startup() {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

bool cleanup() { return ::WSACleanup() == 0; }

uint32_t lastError() { return static_cast<uint32_t>(::WSAGetLastError()); }

// A non-blocking connect, accept or transfer that cannot finish at once
// reports WSAEWOULDBLOCK on Windows (POSIX says EINPROGRESS for a connect).
bool isInProgress(uint32_t error) { return error == WSAEWOULDBLOCK; }

SocketHandle openStream() {
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
    return socket == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(socket);
}

bool closeSocket(SocketHandle socket) { return ::closesocket(native(socket)) == 0; }

bool setOutOfBandInline(SocketHandle socket, bool on) {
    return setIntOption(socket, SOL_SOCKET, SO_OOBINLINE, on ? 1 : 0);
}

bool setNoDelay(SocketHandle socket) { return setIntOption(socket, IPPROTO_TCP, TCP_NODELAY, 1); }

bool noDelay(SocketHandle socket) {
    // Some Winsock versions fill in a single byte for this option; the rest
    // of value stays 0.
    int value = 0;
    int size = sizeof value;
    return ::getsockopt(native(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&value), &size) == 0 &&
           value != 0;
}

// SO_REUSEADDR on Windows lets any other process bind the same port and take
// the connections over; listeners here go without it.
bool allowAddressReuse(SocketHandle /*socket*/) { return true; }

bool setNonBlocking(SocketHandle socket, bool on) {
    u_long mode = on ? 1 : 0;
    return ::ioctlsocket(native(socket), static_cast<long>(FIONBIO), &mode) == 0;
}

bool bindTo(SocketHandle socket, const SocketAddress& address) {
    const sockaddr_in converted = toNative(address);
    return ::bind(native(socket), reinterpret_cast<const sockaddr*>(&converted), sizeof converted) == 0;
}

bool listenOn(SocketHandle socket, int backlog) { return ::listen(native(socket), backlog) == 0; }

SocketHandle acceptFrom(SocketHandle socket, SocketAddress& peer) {
    sockaddr_in converted{};
    int size = sizeof converted;
    const SOCKET accepted = ::accept(native(socket), reinterpret_cast<sockaddr*>(&converted), &size);
    if (accepted == INVALID_SOCKET) return kNoSocket;
    peer = fromNative(converted);
    return static_cast<SocketHandle>(accepted);
}

bool connectTo(SocketHandle socket, const SocketAddress& address) {
    const sockaddr_in converted = toNative(address);
    return ::connect(native(socket), reinterpret_cast<const sockaddr*>(&converted), sizeof converted) == 0;
}

uint32_t connectResult(SocketHandle socket) {
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        return lastError();
    if (error != 0) return static_cast<uint32_t>(error);
    sockaddr_in peer{};
    int peerSize = sizeof peer;
    if (::getpeername(native(socket), reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) return lastError();
    return 0;
}

int waitReady(SocketHandle socket, Readiness what, uint32_t milliseconds) {
    fd_set readSet;
    fd_set writeSet;
    fd_set exceptSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    switch (what) {
    case Readiness::Read: FD_SET(native(socket), &readSet); break;
    case Readiness::Write: FD_SET(native(socket), &writeSet); break;
    case Readiness::Connect:
        // Winsock shows a failed connect in the exception set only; the
        // write set would stay empty until the caller's budget ran out.
        FD_SET(native(socket), &writeSet);
        FD_SET(native(socket), &exceptSet);
        break;
    }
    timeval timeout{};
    timeout.tv_sec = static_cast<long>(milliseconds / 1000);
    timeout.tv_usec = static_cast<long>((milliseconds % 1000) * 1000);
    const int result = ::select(0, &readSet, &writeSet, &exceptSet, &timeout);
    if (result == SOCKET_ERROR) return -1;
    return result > 0 ? 1 : 0;
}

// Winsock has no per-call "don't wait" flag: a blocking socket is switched to
// non-blocking mode for the one call, and the send's error is kept across the
// switch back.
int32_t sendNow(SocketHandle socket, const void* data, uint32_t length, bool socketBlocking) {
    if (socketBlocking && !setNonBlocking(socket, true)) return -1;
    const int sent = ::send(native(socket), static_cast<const char*>(data), clampedLength(length), 0);
    if (socketBlocking) {
        const int error = ::WSAGetLastError();
        setNonBlocking(socket, false);
        ::WSASetLastError(error);
    }
    return sent;
}

int32_t receiveSome(SocketHandle socket, void* buffer, uint32_t length, bool peek) {
    return ::recv(native(socket), static_cast<char*>(buffer), clampedLength(length), peek ? MSG_PEEK : 0);
}

bool shutdownBoth(SocketHandle socket) { return ::shutdown(native(socket), SD_BOTH) == 0; }

uint16_t localPort(SocketHandle socket) {
    sockaddr_in converted{};
    int size = sizeof converted;
    if (::getsockname(native(socket), reinterpret_cast<sockaddr*>(&converted), &size) != 0) return 0;
    return ntohs(converted.sin_port);
}

bool peerAddress(SocketHandle socket, SocketAddress& peer) {
    sockaddr_in converted{};
    int size = sizeof converted;
    if (::getpeername(native(socket), reinterpret_cast<sockaddr*>(&converted), &size) != 0) return false;
    peer = fromNative(converted);
    return true;
}

bool hostName(char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return false;
    if (::gethostname(buffer, clampedLength(size)) != 0) return false;
    buffer[size - 1] = '\0';
    return true;
}

// gethostbyname keeps its result in storage of the calling thread, so it is
// safe from several threads at once here (unlike on POSIX).
bool resolveFirst(const char* name, uint32_t& address) {
    if (name == nullptr || name[0] == '\0') return false;
    const hostent* host = ::gethostbyname(name);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 || host->h_addr_list == nullptr ||
        host->h_addr_list[0] == nullptr)
        return false;
    std::memcpy(&address, host->h_addr_list[0], 4);
    return true;
}

bool parseDotted(const char* text, uint32_t& address) {
    if (text == nullptr) return false;
    const unsigned long parsed = ::inet_addr(text);
    if (parsed == INADDR_NONE) return false;
    address = static_cast<uint32_t>(parsed);
    return true;
}

void formatDotted(uint32_t address, char (&text)[kDottedSize]) {
    in_addr converted{};
    converted.s_addr = address;
    // inet_ntoa's buffer belongs to the calling thread.
    const char* dotted = ::inet_ntoa(converted);
    if (dotted == nullptr || std::strlen(dotted) >= kDottedSize) {
        text[0] = '\0';
        return;
    }
    std::memcpy(text, dotted, std::strlen(dotted) + 1);
}

} // namespace vp::platform
