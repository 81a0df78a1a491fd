#pragma once
// IPv4 stream sockets as the operating system gives them: BSD sockets on
// POSIX, Winsock on Windows. Thin on purpose: one call each, no policy. The
// policy (time-outs, cancellation, the own error codes) lives in TcpSocket.
//
// Error numbers share one vocabulary. Winsock numbers pass through as
// WSAGetLastError gives them; POSIX errno values are reported as 10000 + errno,
// which keeps them clear of TcpSocket's own small codes and happens to match the
// Winsock numbering of the classic BSD errors (10004 is an interrupted call on
// both).

#include <cstdint>

namespace vp::platform {

// A file descriptor or a Winsock SOCKET; all bits set when no socket is open.
using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

constexpr uint16_t kAddressFamilyInet = 2;  // AF_INET on every platform we build for

// An IPv4 socket address laid out as the platform's sockaddr_in: 16 bytes,
// port and address in network byte order.
struct SocketAddress {
    uint16_t family = kAddressFamilyInet;
    uint16_t port = 0;
    uint32_t address = 0;
    uint8_t zero[8] = {};
};
static_assert(sizeof(SocketAddress) == 16);

enum class Readiness {
    Read,     // data, a pending connection on a listener, or the peer's close
    Write,    // room to send
    Connect,  // a pending connect finished, either way
};

// Loads the socket library (Winsock 1.1) and, on POSIX, ignores SIGPIPE once
// for the whole process so that writing to a closed connection is an error
// result and not the end of the process.
bool startup();
bool cleanup();

// The error number of the last failed call on this thread.
uint32_t lastError();
// true when error means "not finished yet": a connect under way or an accept
// or transfer that would block on a non-blocking socket.
bool isInProgress(uint32_t error);

SocketHandle openStream();
bool closeSocket(SocketHandle socket);

bool setOutOfBandInline(SocketHandle socket, bool on);
bool setNoDelay(SocketHandle socket);
// true when TCP_NODELAY is on (false also when it cannot be read).
bool noDelay(SocketHandle socket);
// Lets a listener bind its port again while old connections sit in TIME_WAIT.
// POSIX only: on Windows the option lets another process take the port over,
// so there it does nothing and succeeds.
bool allowAddressReuse(SocketHandle socket);
bool setNonBlocking(SocketHandle socket, bool on);

bool bindTo(SocketHandle socket, const SocketAddress& address);
bool listenOn(SocketHandle socket, int backlog);
// The accepted socket, or kNoSocket. peer receives the caller's address.
SocketHandle acceptFrom(SocketHandle socket, SocketAddress& peer);
bool connectTo(SocketHandle socket, const SocketAddress& address);
// After Readiness::Connect: 0 when the connection is up, otherwise the error
// that ended the attempt.
uint32_t connectResult(SocketHandle socket);

// Waits until the socket is ready for what, at most milliseconds (0 polls).
// 1 ready, 0 timed out, -1 failed (see lastError).
int waitReady(SocketHandle socket, Readiness what, uint32_t milliseconds);

// One send of what the socket takes at once, never waiting for room: a
// blocked send is out of reach of shutdown() on Windows. socketBlocking says
// whether the socket is in blocking mode (Winsock cannot be asked). The count
// sent, or -1 (with an in-progress error when no room was left). Lengths
// above 2^31 - 1 are cut to that.
int32_t sendNow(SocketHandle socket, const void* data, uint32_t length, bool socketBlocking);
// One receive of at most length bytes: the count, 0 for a closed connection,
// -1 on failure.
int32_t receiveSome(SocketHandle socket, void* buffer, uint32_t length, bool peek);

bool shutdownBoth(SocketHandle socket);
// The local port in host order, 0 when the socket is not bound.
uint16_t localPort(SocketHandle socket);
// The connected peer's address; false when the socket has no peer.
bool peerAddress(SocketHandle socket, SocketAddress& peer);

// The host name, NUL-terminated within size bytes.
bool hostName(char* buffer, uint32_t size);
// The first IPv4 address of name, in network order.
bool resolveFirst(const char* name, uint32_t& address);
// A dotted address as inet_addr reads it (which also takes "a.b.c", "a.b"
// and "a"); "255.255.255.255" is refused, as inet_addr cannot tell it from
// its failure value.
bool parseDotted(const char* text, uint32_t& address);
// The dotted text of address, NUL-terminated ("255.255.255.255" fills all 16).
constexpr uint32_t kDottedSize = 16;
void formatDotted(uint32_t address, char (&text)[kDottedSize]);

} // namespace vp::platform
