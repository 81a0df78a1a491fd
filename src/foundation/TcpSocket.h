#pragma once
// The one wrapper around a TCP stream socket that all network traffic goes
// through, and the process-wide start-up and address look-ups.
//
// Nothing here throws or shows anything: every operation returns 1/0, a byte
// count or a new socket, and leaves an error number for LastError: one of the
// own codes below or a platform error number (Winsock's, or 10000 + errno on
// POSIX). Each Send or Recv moves at most one platform transfer; callers loop
// for complete transfers and set their own time-out policy.
//
// Threads: one thread sends and receives at a time, except that PollByte and
// PeekAlive may run in two threads at once (they exclude each other), and
// Cancel may be called from any thread at any time while the object lives.
//
// Ownership: the object owns its handle, like every handle type of the
// platform layer. It cannot be copied; moving hands the handle, the
// connection state and a Cancel already made over to the new object and
// leaves the old one without a handle. Moving is the owner's business alone:
// no other thread may use either object meanwhile, Cancel included, and a
// cancel action registered for the old object must be replaced by one for
// the new object before the move.

#include "foundation/Semaphore.h"
#include "foundation/TextString.h"
#include "platform/Socket.h"

#include <atomic>
#include <cstdint>

namespace vp {

class TcpSocket {
public:
    static constexpr uint32_t ErrHostNotFound = 1;  // Connect: neither a dotted address nor a known name
    static constexpr uint32_t ErrNotConnected = 2;  // not connected, no handle, cancelled, or PollByte/PeekAlive failed
    // 3 stood for an Accept that could not allocate; Accept no longer allocates.
    static constexpr uint32_t ErrTimeout = 4;       // PollByte found nothing; a timed wait ran out
    static constexpr uint32_t ErrWouldBlock = 5;    // a non-blocking Connect is under way
    static constexpr uint32_t ErrConnected = 6;     // Bind on a connected socket

    // Opens an unconnected socket (IsValid tells whether that worked).
    TcpSocket();
    // Takes handle over as reset does; kNoSocket gives an object without one.
    explicit TcpSocket(platform::SocketHandle handle);
    // Closes the handle.
    ~TcpSocket();

    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;
    // See "Ownership" above.
    TcpSocket(TcpSocket&& other) noexcept;
    // Closes this object's handle first.
    TcpSocket& operator=(TcpSocket&& other) noexcept;

    // Gives the handle up without closing it; the object is left closed.
    platform::SocketHandle release();
    // Closes the handle and takes handle over in blocking mode (kNoSocket
    // leaves the object closed). It counts as connected when the system
    // knows a peer for it. A Cancel made earlier still holds.
    void reset(platform::SocketHandle handle = platform::kNoSocket);

    // Closes a previous handle and opens a fresh, unconnected, blocking one.
    uint32_t Create();
    // Closes the handle; 1 unless closing it failed.
    uint32_t Close();
    // A connected socket is closed and replaced by a fresh unconnected one so
    // that the object can connect again; an unconnected one is left alone.
    uint32_t Reset();
    uint32_t IsValid() const;
    uint32_t IsConnected() const;
    uint32_t LastError() const;

    // Binds port on localAddress (dotted; null binds every local address).
    // Fails with ErrConnected on a connected socket.
    uint32_t Bind(uint16_t port, const char* localAddress = nullptr);
    // The bound port (useful after binding port 0); 0 when not bound.
    uint16_t LocalPort() const;
    // Listens with a backlog of 5.
    uint32_t Listen();
    // Waits for the next connection: the connected socket, or one without a
    // handle (IsConnected 0, this object's LastError tells why).
    TcpSocket Accept();

    uint32_t SetNonBlocking(uint32_t flag);
    // Connects to host (dotted or a name) at port. Non-blocking: 0 with
    // ErrWouldBlock while the connection is under way (see PollConnected).
    uint32_t Connect(const char* host, uint16_t port);
    uint32_t Connect(const TextString& host, uint16_t port) { return Connect(host.c_str(), port); }
    // 1 once a pending connect has completed (the socket is then connected),
    // 0 while it is still under way or when it failed (LastError tells). Waits
    // up to waitMilliseconds for the outcome; 0 only looks.
    uint32_t PollConnected(uint32_t waitMilliseconds = 0);

    // One send of at most length bytes once the socket can take data; the
    // count sent, 0 on failure.
    uint32_t Send(const void* data, uint32_t length);
    // As Send, giving up (0, ErrTimeout) when no room comes within seconds.
    uint32_t SendTimed(const void* data, uint32_t length, uint32_t seconds);
    // One receive of at most length bytes once data or the peer's close
    // arrives; the count, 0 when the peer closed or on failure.
    uint32_t Recv(void* buffer, uint32_t length);
    // As Recv, giving up (0, ErrTimeout) when nothing comes within seconds.
    uint32_t RecvTimed(void* buffer, uint32_t length, uint32_t seconds);
    // Sends the low 8 bits of value.
    uint32_t SendByte(uint32_t value);
    // Blocks until the peer sends or closes, then marks the socket not
    // connected. 1 at once when not connected.
    uint32_t WaitReadable();
    // Takes one byte if one is waiting: 1, or 0 with ErrTimeout when none is.
    uint32_t PollByte(uint8_t& byte);
    // 1 while the connection is up (consumes nothing), 0 with ErrNotConnected
    // once the peer has closed it.
    uint32_t PeekAlive();
    // The peer's dotted address, cut to fit size bytes with the NUL.
    uint32_t PeerAddress(char* buffer, uint32_t size);

    // From any thread: makes a call blocked on this socket return at once
    // with ErrNotConnected, and every later blocking call fail the same way.
    // The handle stays open until the owner closes it.
    void Cancel();

private:
    enum class WaitResult { Ready, TimedOut, Failed, Cancelled };
    static constexpr int64_t kNoLimit = -1;

    WaitResult waitFor(platform::Readiness what, int64_t milliseconds);
    uint32_t sendWithin(const void* data, uint32_t length, int64_t milliseconds);
    uint32_t receiveWithin(void* buffer, uint32_t length, int64_t milliseconds);
    uint32_t connectBlocking();
    uint32_t fail(uint32_t error);
    uint32_t closeHandle();
    void setHandle(platform::SocketHandle handle);
    void clearState();
    uint32_t reopen();
    void adopt(platform::SocketHandle handle, const platform::SocketAddress* peer);
    void markConnected();

    // Written only by the owning thread, under m_handleLock, so that Cancel
    // never shuts down a number that was closed and handed out again.
    platform::SocketHandle m_handle = platform::kNoSocket;
    platform::SocketAddress m_address;
    std::atomic<uint32_t> m_connected{0};
    std::atomic<uint32_t> m_lastError{0};
    std::atomic<bool> m_cancelled{false};
    bool m_nonBlocking = false;
    Semaphore m_pollLock{1, 1};    // PollByte against PeekAlive
    Semaphore m_handleLock{1, 1};  // handle changes against Cancel
};

// Loads the socket library; once at start-up, before any socket exists.
uint32_t NetStartup();
// Releases it; once at shutdown.
uint32_t NetCleanup();
// The dotted address of this machine's host name, cut to fit size bytes.
uint32_t LocalAddress(char* buffer, uint32_t size);
// 1 when text reads as a dotted IPv4 address (as inet_addr reads it).
uint32_t IsDottedAddress(const char* text);

} // namespace vp
