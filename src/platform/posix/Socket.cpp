#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// The waits use poll(): select() cannot take a descriptor above FD_SETSIZE,
// which a busy server process reaches.

namespace vp::platform {

namespace {

constexpr uint32_t kErrnoBase = 10000;

int descriptor(SocketHandle socket) { return static_cast<int>(socket); }

uint32_t mapped(int error) { return kErrnoBase + static_cast<uint32_t>(error); }

sockaddr_in toNative(const SocketAddress& address) {
    sockaddr_in native{};
    native.sin_family = AF_INET;
    native.sin_port = address.port;
    native.sin_addr.s_addr = address.address;
    return native;
}

bool setIntOption(SocketHandle socket, int level, int name, int value) {
    return ::setsockopt(descriptor(socket), level, name, &value, sizeof value) == 0;
}

SocketAddress fromNative(const sockaddr_in& native) {
    SocketAddress address;
    address.family = static_cast<uint16_t>(native.sin_family);
    address.port = native.sin_port;
    address.address = native.sin_addr.s_addr;
    return address;
}

int clampedLength(uint32_t length) { return length > INT_MAX ? INT_MAX : static_cast<int>(length); }

} // namespace

bool startup() {
    // Once per process; a later startup() changes nothing.
    static const bool sigpipeIgnored = [] { return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
    return sigpipeIgnored;
}

bool cleanup() { return true; }

uint32_t lastError() { return mapped(errno); }

bool isInProgress(uint32_t error) {
    return error == mapped(EINPROGRESS) || error == mapped(EWOULDBLOCK) || error == mapped(EAGAIN);
}

SocketHandle openStream() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? kNoSocket : fd;
}

bool closeSocket(SocketHandle socket) {
    // A close interrupted by a signal has still released the descriptor on
    // Linux; retrying could close a number that was handed out again.
    return ::close(descriptor(socket)) == 0 || errno == EINTR;
}

bool setOutOfBandInline(SocketHandle socket, bool on) {
    return setIntOption(socket, SOL_SOCKET, SO_OOBINLINE, on ? 1 : 0);
}

bool setNoDelay(SocketHandle socket) { return setIntOption(socket, IPPROTO_TCP, TCP_NODELAY, 1); }

bool noDelay(SocketHandle socket) {
    int value = 0;
    socklen_t size = sizeof value;
    return ::getsockopt(descriptor(socket), IPPROTO_TCP, TCP_NODELAY, &value, &size) == 0 && value != 0;
}

bool allowAddressReuse(SocketHandle socket) { return setIntOption(socket, SOL_SOCKET, SO_REUSEADDR, 1); }

bool setNonBlocking(SocketHandle socket, bool on) {
    const int flags = ::fcntl(descriptor(socket), F_GETFL);
    if (flags < 0) return false;
    const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return wanted == flags || ::fcntl(descriptor(socket), F_SETFL, wanted) == 0;
}

bool bindTo(SocketHandle socket, const SocketAddress& address) {
    const sockaddr_in native = toNative(address);
    return ::bind(descriptor(socket), reinterpret_cast<const sockaddr*>(&native), sizeof native) == 0;
}

bool listenOn(SocketHandle socket, int backlog) { return ::listen(descriptor(socket), backlog) == 0; }

SocketHandle acceptFrom(SocketHandle socket, SocketAddress& peer) {
    sockaddr_in native{};
    socklen_t size = sizeof native;
    int fd;
    do {
        fd = ::accept4(descriptor(socket), reinterpret_cast<sockaddr*>(&native), &size, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kNoSocket;
    peer = fromNative(native);
    return fd;
}

bool connectTo(SocketHandle socket, const SocketAddress& address) {
    const sockaddr_in native = toNative(address);
    if (::connect(descriptor(socket), reinterpret_cast<const sockaddr*>(&native), sizeof native) == 0) return true;
    // An interrupted connect goes on in the background, like a non-blocking
    // one; the caller waits for it the same way.
    if (errno == EINTR) errno = EINPROGRESS;
    return false;
}

uint32_t connectResult(SocketHandle socket) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(descriptor(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return lastError();
    if (error != 0) return mapped(error);
    // SO_ERROR is cleared by reading it: a second look at a failed attempt
    // must still fail, which the missing peer shows.
    sockaddr_in peer{};
    socklen_t peerSize = sizeof peer;
    if (::getpeername(descriptor(socket), reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) return lastError();
    return 0;
}

int waitReady(SocketHandle socket, Readiness what, uint32_t milliseconds) {
    pollfd entry{};
    entry.fd = descriptor(socket);
    entry.events = (what == Readiness::Read) ? POLLIN : POLLOUT;
    const int timeout = milliseconds > INT_MAX ? INT_MAX : static_cast<int>(milliseconds);
    int result;
    do {
        result = ::poll(&entry, 1, timeout);
    } while (result < 0 && errno == EINTR);
    if (result < 0) return -1;
    if (result == 0) return 0;
    // POLLERR and POLLHUP count as ready: the next call reports what happened.
    if (entry.revents & POLLNVAL) {
        errno = EBADF;
        return -1;
    }
    return 1;
}

// MSG_NOSIGNAL: a peer that has gone away gives EPIPE here instead of
// SIGPIPE (startup() also ignores the signal for every other writer).
int32_t sendNow(SocketHandle socket, const void* data, uint32_t length, bool /*socketBlocking*/) {
    ssize_t sent;
    do {
        sent = ::send(descriptor(socket), data, static_cast<size_t>(clampedLength(length)),
                      MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    return static_cast<int32_t>(sent);
}

int32_t receiveSome(SocketHandle socket, void* buffer, uint32_t length, bool peek) {
    ssize_t received;
    do {
        received = ::recv(descriptor(socket), buffer, static_cast<size_t>(clampedLength(length)), peek ? MSG_PEEK : 0);
    } while (received < 0 && errno == EINTR);
    return static_cast<int32_t>(received);
}

bool shutdownBoth(SocketHandle socket) { return ::shutdown(descriptor(socket), SHUT_RDWR) == 0; }

uint16_t localPort(SocketHandle socket) {
    sockaddr_in native{};
    socklen_t size = sizeof native;
    if (::getsockname(descriptor(socket), reinterpret_cast<sockaddr*>(&native), &size) != 0) return 0;
    return ntohs(native.sin_port);
}

bool peerAddress(SocketHandle socket, SocketAddress& peer) {
    sockaddr_in native{};
    socklen_t size = sizeof native;
    if (::getpeername(descriptor(socket), reinterpret_cast<sockaddr*>(&native), &size) != 0) return false;
    peer = fromNative(native);
    return true;
}

bool hostName(char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return false;
    if (::gethostname(buffer, size) != 0) return false;
    buffer[size - 1] = '\0';
    return true;
}

bool resolveFirst(const char* name, uint32_t& address) {
    if (name == nullptr || name[0] == '\0') return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    bool ok = false;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
            address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
            ok = true;
            break;
        }
    }
    ::freeaddrinfo(found);
    return ok;
}

bool parseDotted(const char* text, uint32_t& address) {
    if (text == nullptr) return false;
    const in_addr_t parsed = ::inet_addr(text);
    if (parsed == INADDR_NONE) return false;
    address = parsed;
    return true;
}

void formatDotted(uint32_t address, char (&text)[kDottedSize]) {
    in_addr native{};
    native.s_addr = address;
    if (::inet_ntop(AF_INET, &native, text, kDottedSize) == nullptr) text[0] = '\0';
}

} // namespace vp::platform
