#pragma once
// A request to the server that runs on a worker of the server request
// service: made by a window (log-in, password change, note download) or by
// the contact model (a presence query, through the port below), shared
// between its maker and the worker. The contact model knows only this
// header; the service implements the port.

#include "foundation/Semaphore.h"
#include "foundation/TextString.h"

#include <cstdint>
#include <memory>

namespace vp {

// The protocol request that asks the server for a contact's presence.
inline constexpr uint32_t kQueryStatusRequest = 1017;

struct ServerRequest {
    // Connection data: the logged-in user and the server it logs in to.
    TextString userName;
    TextString serverName;
    TextString password;
    TextString newPassword;
    // The server's greeting, or the reason of a failure.
    TextString messageText;
    // For type 1017 the worker stores the request's result value here.
    uint32_t verbose = 0;
    uint32_t type = 0;
    // 1 started ... 12 failed, 13 succeeded; guarded by lock.
    uint32_t stage = 0;
    // The window told of progress; none for the model's queries.
    std::uintptr_t notifyWindow = 0;
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
