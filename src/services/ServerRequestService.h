#pragma once
// Requests to the server, each run on a worker thread of its own so that no
// window waits on a socket: the log-in and the password change of the
// windows (foreground: the window is told of each stage and takes the
// request back at the end), and the note download, the presence queries of
// the contact model and the log-ins nobody watches (background: the worker
// frees the request). A window lets go of a request by cancelling it.
//
// The service's start offers to create an account when there is no user
// yet, and then connects by itself or opens the connect box.

#include "foundation/Service.h"
#include "protocol/ProtocolPorts.h"
#include "services/ServerRequest.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace vp {

class GeneralOptions;
class NoteDesktopPort;

// The connect box as the service's start opens it (message 1535).
class ConnectBoxPort {
public:
    virtual ~ConnectBoxPort() = default;
    // 1: connect with the saved settings without showing the box; 0: show
    // the box.
    virtual void openConnectBox(uint32_t connectSilently) = 0;
};

struct ServerRequestSetup {
    // What the requests' conversations are made with: the server port, the
    // listener the log-in hands the relay ticket to, the contact model.
    ProtocolContext protocol;
    // The settings: the user, the server, the password, how to start.
    GeneralOptions* general = nullptr;
    // Where downloaded notes are shown (message 1537).
    NoteDesktopPort* desktop = nullptr;
    ConnectBoxPort* connectBox = nullptr;
    // The account form, offered at start when there is no user: 1 when an
    // account was made. None: nothing is offered.
    std::function<uint32_t()> createAccount;
    // Saves the settings groups (after a password change nobody waits for).
    std::function<void()> saveSettings;
    // Whether the client is logged in now; none counts as logged in.
    std::function<uint32_t()> connected;
};

class ServerRequestService final : public Service, public ServerRequestPort {
public:
    static constexpr std::uintptr_t kForeground = 102;
    static constexpr std::uintptr_t kBackground = 103;
    static constexpr std::uintptr_t kCancel = 104;

    explicit ServerRequestService(ServerRequestSetup setup);
    ~ServerRequestService() override { stop(); }

    // Hand request over to a worker: 1 when it was taken (identity then
    // names it for cancel), 0 when refused (the request stays with the
    // caller). A foreground request needs its notify port set.
    uint32_t postForeground(ServerRequest* request, uint32_t& identity);
    uint32_t postBackground(ServerRequest* request, uint32_t& identity);
    // The window lets go of the request: nobody is told of it any more and
    // its connection is cancelled. 1 when it was still running.
    uint32_t cancel(uint32_t identity);
    // The contact model's presence queries, in the background.
    uint32_t postServerRequest(std::unique_ptr<ServerRequest>& request) override;

protected:
    uint32_t handleRequest(uint32_t sender, uint32_t argumentCount, const std::uintptr_t* args) override;
    uint32_t onStart() override;
    uint32_t onStop() override;

private:
    uint32_t run(uint32_t sender, std::uintptr_t code, uint32_t* identityOut, ServerRequest* request);
    // What the request's type asks for; true when it succeeded.
    bool perform(ServerRequest& request, bool foreground);
    bool logIn(ServerRequest& request);
    bool changePassword(ServerRequest& request);
    bool queryStatus(ServerRequest& request);
    // Connects the request's own socket (made when it has none) to its
    // server, reporting stage 2 first.
    bool connect(ServerRequest& request, ClientProtocol& protocol);
    // Stage := stage, and the window told when one listens.
    void report(ServerRequest& request, uint32_t stage);
    bool listening(ServerRequest& request);
    // Frees the request's socket; cancel reaches the socket only under the
    // same lock.
    void dropSocket(ServerRequest& request);
    void cancelSocket(ServerRequest& request);

    ServerRequestSetup m_setup;
    // The running requests by identity, and the lock of the requests'
    // sockets against cancel.
    std::mutex m_lock;
    std::map<uint32_t, ServerRequest*> m_active;
    uint32_t m_nextIdentity = 0;
    bool m_tableReady = false;
};

// The note download of a background request, on the calling thread: the
// notes kept on the server for the user of the settings go to the desktop
// one by one, in order, after a box that counts them. verbose: the empty
// result and the failures are reported too. 1 on success.
uint32_t downloadNotes(const ServerRequestSetup& setup, uint32_t verbose, TcpSocket& socket);

} // namespace vp
