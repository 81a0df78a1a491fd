#pragma once
// The client's hold on its server session, as the main window keeps it: the
// connected state and the session's socket, the log-in with the saved
// names, the watch over the session, and the ways back to disconnected.
// Every operation runs on the one thread that owns the state (the user
// interface thread); the workers' progress and the watch's drop reach it as
// messages, through the port, and come back in as loginProgress and
// connectionDropped, in the order they were posted.

#include "foundation/Subject.h"
#include "foundation/TcpSocket.h"
#include "services/ServerRequest.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace vp {

class ConnectionMonitor;
class ContactList;
class GeneralOptions;
class ListenerService;
class ServerRequestService;
class SoundOptions;

// The main window as the session needs it.
class SessionKeeperPort {
public:
    virtual ~SessionKeeperPort() = default;
    // The state changed: tray icon and tip, the contact list's status and
    // titles (and, when connected, its items refreshed).
    virtual void showConnectionState(uint32_t connected) = 0;
    // A log-in succeeded; request still holds the server's greeting.
    virtual void loggedIn(const ServerRequest& request) = 0;
    // The session was lost while connected: the reconnect box takes over
    // (message 1536).
    virtual void sessionLost() = 0;
    // From a monitor thread: the watch of connection was dropped. Posts it
    // to the owning thread, which passes it to connectionDropped; nothing
    // else may be done here.
    virtual void postConnectionDropped(TcpSocket* connection) = 0;
};

struct SessionKeeperSetup {
    GeneralOptions* general = nullptr;
    SoundOptions* sounds = nullptr;
    ContactList* contacts = nullptr;
    ConnectionMonitor* monitor = nullptr;
    ServerRequestService* requests = nullptr;
    ListenerService* listeners = nullptr;
    SessionKeeperPort* port = nullptr;
    // The application's connected flag, read by other threads.
    std::function<void(uint32_t)> setConnectedFlag;
    // Plays a sound file without waiting; none plays nothing.
    std::function<void(const char* path)> playSound;
};

class SessionKeeper final : private Observer {
public:
    explicit SessionKeeper(SessionKeeperSetup setup);
    ~SessionKeeper() override;
    SessionKeeper(const SessionKeeper&) = delete;
    SessionKeeper& operator=(const SessionKeeper&) = delete;

    // The one place where the state changes: the sounds, the port told, the
    // contacts asked for (connected) or set offline with the server's event
    // connection closed (disconnected). connection is held until the next
    // setState or its drop.
    void setState(uint32_t connected, std::unique_ptr<TcpSocket> connection);
    // Drops a session held without asking, then logs in with the saved user
    // name, server and password; progress goes to notify (message 1075),
    // which passes it to loginProgress. 1 when the log-in is under way.
    uint32_t connectSilently(ServerRequestProgressPort& notify);
    // A stage of the log-in. At its end (12, 13) the request is the
    // caller's: it is freed here, and on success its socket, now watched,
    // becomes the session. A request let go of meanwhile is only freed.
    void loginProgress(ServerRequest& request, uint32_t stage);
    // The watch of connection was dropped: the session is freed, and the
    // reconnect box opens when the client was connected.
    void connectionDropped(TcpSocket* connection);
    // Back to disconnected from any state: a log-in under way is let go of,
    // a session held is no longer watched and freed. 1 when there was
    // either.
    uint32_t disconnect();

    uint32_t connected() const { return m_connected; }
    // The session's socket while it is held.
    TcpSocket* connection() const { return m_connection.get(); }
    // The log-in under way (its identity for cancel), 0 when none.
    uint32_t pendingIdentity() const { return m_pendingIdentity; }
    // An announcement that the server "re-connected" clears it, so that a
    // loss that follows opens no reconnect box.
    void clearLastConnected() { m_lastConnected = 0; }

private:
    // Observer of the session's watch, on the monitor's thread.
    uint32_t update(Subject& subject, std::uintptr_t argument) override;
    // The session stops being watched (this detached first) and is freed.
    void releaseConnection();
    void finishRequest(ServerRequest& request);

    SessionKeeperSetup m_setup;
    uint32_t m_connected = 0;
    uint32_t m_lastConnected = 0;
    std::unique_ptr<TcpSocket> m_connection;
    ServerRequest* m_pendingRequest = nullptr;
    uint32_t m_pendingIdentity = 0;
};

} // namespace vp
