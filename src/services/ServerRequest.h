#pragma once
// A request to the server that runs on a worker of the server request
// service: made by a window (log-in, password change, note download) or by
// the contact model (a presence query, through the port below), shared
// between its maker and the worker. The contact model knows only this
// header; the service implements the port.

#include "foundation/Semaphore.h"
#include "foundation/TcpSocket.h"
#include "foundation/TextString.h"

#include <cstdint>
#include <memory>

namespace vp {

// The protocol requests a ServerRequest carries (its type).
inline constexpr uint32_t kLogInRequest = 1000;
inline constexpr uint32_t kPasswordChangeRequest = 1013;
inline constexpr uint32_t kNoteDownLoadRequest = 1015;
// The protocol request that asks the server for a contact's presence.
inline constexpr uint32_t kQueryStatusRequest = 1017;

struct ServerRequest;

// The window that started a foreground request, told of each stage (message
// 1075). On stage 12 or 13 it takes the request over and frees it.
class ServerRequestProgressPort {
public:
    virtual ~ServerRequestProgressPort() = default;
    virtual void requestProgress(ServerRequest& request, uint32_t stage) = 0;
};

struct ServerRequest {
    // The stages a request passes.
    static constexpr uint32_t kStarted = 1;
    static constexpr uint32_t kConnecting = 2;
    static constexpr uint32_t kSending = 3;
    static constexpr uint32_t kLoggedIn = 6;
    static constexpr uint32_t kFailed = 12;
    static constexpr uint32_t kSucceeded = 13;

    // Connection data: the logged-in user and the server it logs in to.
    TextString userName;
    TextString serverName;
    TextString password;
    TextString newPassword;
    // The request's connection while it has one; after a log-in, the
    // session, which the window takes over.
    std::unique_ptr<TcpSocket> socket;
    // The server's greeting, or the reason of a failure.
    TextString messageText;
    // A note download reports to the user when set; for type 1017 the
    // worker stores the request's result value here.
    uint32_t verbose = 0;
    uint32_t type = 0;
    // 1 started ... 12 failed, 13 succeeded; guarded by lock.
    uint32_t stage = 0;
    // Who is told of progress; none for the background requests, and none
    // once the window has let go of the request. Guarded by lock.
    ServerRequestProgressPort* notify = nullptr;
    Semaphore lock{1, 1};
    // A presence query: the contact asked about, and the flag word the query
    // carries as its trailing value.
    TextString receiverUserName;
    TextString receiverServerName;
    uint32_t flags = 0;
};

class ServerRequestPort {
public:
    virtual ~ServerRequestPort() = default;
    // Takes the request over and runs it in the background: 1, or 0 when
    // refused (the request then stays with the caller, which frees it).
    virtual uint32_t postServerRequest(std::unique_ptr<ServerRequest>& request) = 0;
};

} // namespace vp
