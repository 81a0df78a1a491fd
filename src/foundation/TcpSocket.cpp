#include "foundation/TcpSocket.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

namespace vp {

namespace {

using platform::Readiness;
using platform::kNoSocket;

// No wait blocks longer than this without looking at the cancelled flag.
// shutdown() wakes a wait on a connected POSIX socket at once, but nothing
// wakes a wait on a listener or on a pending connect, and Winsock does not
// always wake a wait for readability either.
constexpr int64_t kSliceMilliseconds = 250;
constexpr int kBacklog = 5;
// Host names are at most 255 bytes.
constexpr uint32_t kHostNameSize = 256;

// The port as it sits in a sockaddr_in: most significant byte first.
uint16_t networkOrder(uint16_t port) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port & 0xFF)};
    uint16_t result;
    std::memcpy(&result, bytes, sizeof result);
    return result;
}

// Copies text into buffer, cut so that it fits size bytes with its NUL.
void copyCut(const char* text, char* buffer, uint32_t size) {
    const size_t length = std::min<size_t>(std::strlen(text), size - 1);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
}

} // namespace

TcpSocket::TcpSocket() { Create(); }

TcpSocket::TcpSocket(platform::SocketHandle handle) { reset(handle); }

TcpSocket::~TcpSocket() {
    m_connected = 0;
    closeHandle();
}

// The semaphores stay with their objects: only the owner moves a socket, at a
// time when nobody waits on them.
TcpSocket::TcpSocket(TcpSocket&& other) noexcept { *this = std::move(other); }

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this == &other) return *this;
    Close();
    const uint32_t connected = other.m_connected.exchange(0);
    setHandle(other.release());
    m_address = std::exchange(other.m_address, platform::SocketAddress{});
    m_connected = connected;
    m_lastError = other.m_lastError.exchange(0);
    m_cancelled = other.m_cancelled.exchange(false);
    m_nonBlocking = std::exchange(other.m_nonBlocking, false);
    return *this;
}

platform::SocketHandle TcpSocket::release() {
    m_connected = 0;
    SemaphoreLock lock(m_handleLock);
    return std::exchange(m_handle, kNoSocket);
}

void TcpSocket::reset(platform::SocketHandle handle) {
    platform::SocketAddress peer;
    const bool hasPeer = handle != kNoSocket && platform::peerAddress(handle, peer);
    adopt(handle, hasPeer ? &peer : nullptr);
}

uint32_t TcpSocket::fail(uint32_t error) {
    m_lastError = error;
    return 0;
}

uint32_t TcpSocket::closeHandle() {
    SemaphoreLock lock(m_handleLock);
    if (m_handle == kNoSocket) return 1;
    const bool closed = platform::closeSocket(m_handle);
    // Whatever close said, the number is no longer ours to use.
    m_handle = kNoSocket;
    return closed ? 1 : 0;
}

void TcpSocket::setHandle(platform::SocketHandle handle) {
    SemaphoreLock lock(m_handleLock);
    m_handle = handle;
}

void TcpSocket::clearState() {
    m_address = platform::SocketAddress{};
    m_connected = 0;
    m_lastError = 0;
    m_nonBlocking = false;
}

// Create and Reset of a connected socket: a fresh, unconnected, blocking
// handle in place of the old one.
uint32_t TcpSocket::reopen() {
    clearState();
    if (closeHandle() == 0) return 0;
    const platform::SocketHandle handle = platform::openStream();
    if (handle == kNoSocket) return fail(platform::lastError());
    setHandle(handle);
    if (!platform::setOutOfBandInline(handle, false)) return fail(platform::lastError());
    return 1;
}

// Takes handle over; connected, with peer as its address, when peer is given.
void TcpSocket::adopt(platform::SocketHandle handle, const platform::SocketAddress* peer) {
    closeHandle();
    clearState();
    if (handle == kNoSocket) return;
    // Windows hands a listener's non-blocking mode on to the sockets it
    // accepts; the conversation that follows expects blocking calls.
    platform::setNonBlocking(handle, false);
    setHandle(handle);
    if (peer == nullptr) return;
    m_address = *peer;
    markConnected();
}

void TcpSocket::markConnected() {
    m_connected = 1;
    // Every exchange is a small request answered by a small reply; waiting
    // to fill a segment would only add a round trip of delay.
    platform::setNoDelay(m_handle);
}

uint32_t TcpSocket::Create() { return reopen(); }

uint32_t TcpSocket::Close() {
    m_connected = 0;
    return closeHandle();
}

uint32_t TcpSocket::Reset() { return m_connected ? reopen() : 1; }

uint32_t TcpSocket::IsValid() const { return m_handle != kNoSocket ? 1 : 0; }

uint32_t TcpSocket::IsConnected() const { return m_connected; }

uint32_t TcpSocket::LastError() const { return m_lastError; }

void TcpSocket::Cancel() {
    m_cancelled = true;
    // Where shutdown wakes the blocked wait, the call returns at once; the
    // sliced waits catch everything else within one slice.
    SemaphoreLock lock(m_handleLock);
    if (m_handle != kNoSocket) platform::shutdownBoth(m_handle);
}

// Waits in slices so that Cancel is seen within one slice. milliseconds
// kNoLimit waits for ever, 0 only looks. Sets LastError for Failed (the
// platform's error) and Cancelled (ErrNotConnected); the caller decides
// what a time-out means.
TcpSocket::WaitResult TcpSocket::waitFor(Readiness what, int64_t milliseconds) {
    using Clock = std::chrono::steady_clock;
    const bool limited = milliseconds != kNoLimit;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? milliseconds : 0);
    for (;;) {
        if (m_cancelled) {
            fail(ErrNotConnected);
            return WaitResult::Cancelled;
        }
        int64_t slice = kSliceMilliseconds;
        if (limited) {
            const int64_t left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            slice = std::clamp<int64_t>(left, 0, kSliceMilliseconds);
        }
        const int ready = platform::waitReady(m_handle, what, static_cast<uint32_t>(slice));
        if (ready < 0) {
            fail(platform::lastError());
            return WaitResult::Failed;
        }
        if (m_cancelled) {
            fail(ErrNotConnected);
            return WaitResult::Cancelled;
        }
        if (ready > 0) return WaitResult::Ready;
        if (limited && Clock::now() >= deadline) return WaitResult::TimedOut;
    }
}

uint32_t TcpSocket::Bind(uint16_t port, const char* localAddress) {
    if (m_connected) return fail(ErrConnected);
    platform::SocketAddress address;
    address.port = networkOrder(port);
    if (localAddress != nullptr && !platform::parseDotted(localAddress, address.address))
        return fail(ErrHostNotFound);
    // Lets a restarted listener take its port back while connections of the
    // previous run linger in TIME_WAIT (a no-op on Windows).
    platform::allowAddressReuse(m_handle);
    if (!platform::bindTo(m_handle, address)) return fail(platform::lastError());
    return 1;
}

uint16_t TcpSocket::LocalPort() const {
    if (m_handle == kNoSocket) return 0;
    return platform::localPort(m_handle);
}

uint32_t TcpSocket::Listen() {
    if (!platform::listenOn(m_handle, kBacklog)) return fail(platform::lastError());
    return 1;
}

// Waits for readability first, in slices, because a thread blocked inside
// accept() on Windows is not woken by shutdown() and so could not be cancelled.
TcpSocket TcpSocket::Accept() {
    TcpSocket accepted(kNoSocket);
    if (m_handle == kNoSocket) {
        fail(ErrNotConnected);
        return accepted;
    }
    for (;;) {
        if (waitFor(Readiness::Read, kNoLimit) != WaitResult::Ready) return accepted;
        platform::SocketAddress peer;
        const platform::SocketHandle handle = platform::acceptFrom(m_handle, peer);
        if (handle != kNoSocket) {
            accepted.adopt(handle, &peer);
            return accepted;
        }
        const uint32_t error = platform::lastError();
        // On a non-blocking listener the connection can be gone (reset by
        // its caller) between the wait and the accept: wait again.
        if (!platform::isInProgress(error)) {
            fail(error);
            return accepted;
        }
    }
}

uint32_t TcpSocket::SetNonBlocking(uint32_t flag) {
    if (m_handle == kNoSocket) return 0;
    if (!platform::setNonBlocking(m_handle, flag != 0)) return fail(platform::lastError());
    m_nonBlocking = flag != 0;
    return 1;
}

uint32_t TcpSocket::Connect(const char* host, uint16_t port) {
    if (m_cancelled || m_handle == kNoSocket) return fail(ErrNotConnected);
    m_address = platform::SocketAddress{};
    m_address.port = networkOrder(port);
    if (host == nullptr ||
        (!platform::parseDotted(host, m_address.address) && !platform::resolveFirst(host, m_address.address)))
        return fail(ErrHostNotFound);
    if (!m_nonBlocking) return connectBlocking();
    if (platform::connectTo(m_handle, m_address)) {
        markConnected();
        return 1;
    }
    const uint32_t error = platform::lastError();
    return fail(platform::isInProgress(error) ? ErrWouldBlock : error);
}

// A blocking connect to an address that never answers holds its thread for
// minutes, out of Cancel's reach. It runs non-blocking instead, waited for
// in slices, and the socket goes back to blocking mode afterwards.
uint32_t TcpSocket::connectBlocking() {
    if (!platform::setNonBlocking(m_handle, true)) {
        if (!platform::connectTo(m_handle, m_address)) return fail(platform::lastError());
        markConnected();
        return 1;
    }
    uint32_t error = 0;
    if (!platform::connectTo(m_handle, m_address)) {
        error = platform::lastError();
        if (platform::isInProgress(error)) {
            switch (waitFor(Readiness::Connect, kNoLimit)) {
            case WaitResult::Ready: error = platform::connectResult(m_handle); break;
            case WaitResult::TimedOut: error = ErrTimeout; break;
            case WaitResult::Failed:
            case WaitResult::Cancelled: error = m_lastError; break;
            }
        }
    }
    platform::setNonBlocking(m_handle, false);
    if (error != 0) return fail(error);
    markConnected();
    return 1;
}

// Besides writability, asks the socket how the attempt ended: POSIX reports
// a refused connect as writable too, which must not read as connected.
uint32_t TcpSocket::PollConnected(uint32_t waitMilliseconds) {
    if (m_handle == kNoSocket) return 0;
    if (m_connected) return 1;
    if (waitFor(Readiness::Connect, waitMilliseconds) != WaitResult::Ready) return 0;
    const uint32_t error = platform::connectResult(m_handle);
    if (error != 0) return fail(error);
    markConnected();
    return 1;
}

// The send itself never waits (a send blocked inside Winsock ignores
// shutdown); all waiting happens in the sliced wait, which Cancel reaches.
// Writability can promise more room than the send then finds; such a send
// takes nothing and the wait starts over within the same time limit.
uint32_t TcpSocket::sendWithin(const void* data, uint32_t length, int64_t milliseconds) {
    if (!m_connected) return fail(ErrNotConnected);
    if (m_handle == kNoSocket) return 0;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max<int64_t>(milliseconds, 0));
    for (;;) {
        int64_t left = kNoLimit;
        if (milliseconds != kNoLimit)
            left = std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count());
        switch (waitFor(Readiness::Write, left)) {
        case WaitResult::Ready: break;
        case WaitResult::TimedOut: return fail(ErrTimeout);
        case WaitResult::Failed:
        case WaitResult::Cancelled: return 0;
        }
        const int32_t sent = platform::sendNow(m_handle, data, length, !m_nonBlocking);
        if (sent >= 0) return static_cast<uint32_t>(sent);
        const uint32_t error = platform::lastError();
        if (!platform::isInProgress(error)) return fail(m_cancelled ? ErrNotConnected : error);
    }
}

uint32_t TcpSocket::receiveWithin(void* buffer, uint32_t length, int64_t milliseconds) {
    if (!m_connected) return fail(ErrNotConnected);
    if (m_handle == kNoSocket) return 0;
    switch (waitFor(Readiness::Read, milliseconds)) {
    case WaitResult::Ready: break;
    case WaitResult::TimedOut: return fail(ErrTimeout);
    case WaitResult::Failed:
    case WaitResult::Cancelled: return 0;
    }
    const int32_t received = platform::receiveSome(m_handle, buffer, length, false);
    if (received < 0) return fail(m_cancelled ? ErrNotConnected : platform::lastError());
    return static_cast<uint32_t>(received);
}

uint32_t TcpSocket::Send(const void* data, uint32_t length) { return sendWithin(data, length, kNoLimit); }

uint32_t TcpSocket::SendTimed(const void* data, uint32_t length, uint32_t seconds) {
    return sendWithin(data, length, static_cast<int64_t>(seconds) * 1000);
}

uint32_t TcpSocket::Recv(void* buffer, uint32_t length) { return receiveWithin(buffer, length, kNoLimit); }

uint32_t TcpSocket::RecvTimed(void* buffer, uint32_t length, uint32_t seconds) {
    return receiveWithin(buffer, length, static_cast<int64_t>(seconds) * 1000);
}

uint32_t TcpSocket::SendByte(uint32_t value) {
    const uint8_t byte = static_cast<uint8_t>(value & 0xFF);
    return Send(&byte, 1);
}

uint32_t TcpSocket::WaitReadable() {
    if (!m_connected) return 1;
    if (waitFor(Readiness::Read, kNoLimit) != WaitResult::Ready) return 0;
    m_connected = 0;
    return 1;
}

uint32_t TcpSocket::PollByte(uint8_t& byte) {
    SemaphoreLock lock(m_pollLock);
    if (!lock.acquired() || !m_connected || m_handle == kNoSocket) return fail(ErrNotConnected);
    switch (waitFor(Readiness::Read, 0)) {
    case WaitResult::Ready: break;
    case WaitResult::TimedOut: return fail(ErrTimeout);
    case WaitResult::Failed:
    case WaitResult::Cancelled: return fail(ErrNotConnected);
    }
    // The peer's close (0) is reported as ErrNotConnected too: a caller that
    // polled in vain before still holds ErrTimeout and would otherwise read
    // the lost connection as "nothing yet" for ever.
    const int32_t received = platform::receiveSome(m_handle, &byte, 1, false);
    if (received <= 0) return fail(ErrNotConnected);
    return 1;
}

uint32_t TcpSocket::PeekAlive() {
    SemaphoreLock lock(m_pollLock);
    if (!lock.acquired() || !m_connected || m_handle == kNoSocket) return fail(ErrNotConnected);
    switch (waitFor(Readiness::Read, 0)) {
    case WaitResult::Ready: break;
    case WaitResult::TimedOut: return 1;
    case WaitResult::Failed:
    case WaitResult::Cancelled: return fail(ErrNotConnected);
    }
    uint8_t byte = 0;
    if (platform::receiveSome(m_handle, &byte, 1, true) != 1) return fail(ErrNotConnected);
    return 1;
}

uint32_t TcpSocket::PeerAddress(char* buffer, uint32_t size) {
    if (!m_connected) return fail(ErrNotConnected);
    if (buffer == nullptr || size == 0) return 0;
    char dotted[platform::kDottedSize];
    platform::formatDotted(m_address.address, dotted);
    copyCut(dotted, buffer, size);
    return 1;
}

uint32_t NetStartup() { return platform::startup() ? 1 : 0; }

uint32_t NetCleanup() { return platform::cleanup() ? 1 : 0; }

uint32_t LocalAddress(char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    char name[kHostNameSize];
    uint32_t address = 0;
    if (!platform::hostName(name, sizeof name) || !platform::resolveFirst(name, address)) return 0;
    char dotted[platform::kDottedSize];
    platform::formatDotted(address, dotted);
    if (dotted[0] == '\0') return 0;
    copyCut(dotted, buffer, size);
    return 1;
}

uint32_t IsDottedAddress(const char* text) {
    if (text == nullptr || text[0] == '\0') return 0;
    uint32_t address = 0;
    return platform::parseDotted(text, address) ? 1 : 0;
}

} // namespace vp
