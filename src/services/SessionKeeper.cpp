#include "services/SessionKeeper.h"

#include "app/MessageService.h"
#include "contacts/ContactList.h"
#include "services/ConnectionMonitor.h"
#include "services/ListenerService.h"
#include "services/ServerRequestService.h"
#include "settings/GeneralOptions.h"
#include "settings/SoundOptions.h"

#include <new>
#include <utility>

namespace vp {

namespace {

constexpr char kCannotConnect[] = "Cannot connect to server.\nPlease try again later.";
constexpr char kConnectionLost[] = "Network connection unexpectedly lost.";
constexpr char kCannotStart[] = "Cannot initiate Server Connect.";
constexpr char kNoMemory[] = "Not enough memory to continue;\nplease close some applications and try again later.";

} // namespace

SessionKeeper::SessionKeeper(SessionKeeperSetup setup) : m_setup(std::move(setup)) {}

SessionKeeper::~SessionKeeper() { disconnect(); }

void SessionKeeper::setState(uint32_t connected, std::unique_ptr<TcpSocket> connection) {
    m_connected = connected ? 1 : 0;
    m_connection = std::move(connection);
    if (m_setup.setConnectedFlag) m_setup.setConnectedFlag(m_connected);
    SoundOptions* const sounds = m_setup.sounds;
    const uint32_t flag = m_connected ? SoundOptions::kPlayOnConnected : SoundOptions::kPlayOnDisconnected;
    if (sounds && m_setup.playSound && sounds->GetInt(flag))
        m_setup.playSound(sounds->GetString(flag - SoundOptions::kFlagOffset).c_str());
    m_lastConnected = m_connected;
    if (m_setup.port) m_setup.port->showConnectionState(m_connected);
    if (m_connected) {
        if (m_setup.contacts) m_setup.contacts->queryAllPresence();
    } else {
        if (m_setup.contacts) m_setup.contacts->setAllOffline();
        if (m_setup.listeners) m_setup.listeners->closeEventConnection();
    }
}

uint32_t SessionKeeper::connectSilently(ServerRequestProgressPort& notify) {
    if (m_connected) {
        releaseConnection();
        setState(0, nullptr);
    }
    // A log-in still under way is let go of: this one replaces it.
    if (m_pendingIdentity) m_setup.requests->cancel(m_pendingIdentity);
    m_pendingRequest = nullptr;
    m_pendingIdentity = 0;

    auto* request = new (std::nothrow) ServerRequest();
    if (!request) {
        showInfo(kNoMemory);
        return 0;
    }
    GeneralOptions& general = *m_setup.general;
    request->type = kLogInRequest;
    request->userName = general.GetString(GeneralOptions::kUserName);
    request->serverName = general.GetString(GeneralOptions::kServerName);
    request->password = general.GetString(GeneralOptions::kUserPassword);
    request->notify = &notify;
    uint32_t identity = 0;
    if (!m_setup.requests->postForeground(request, identity)) {
        showInfo(kCannotStart);
        delete request;
        setState(0, nullptr);
        return 0;
    }
    m_pendingRequest = request;
    m_pendingIdentity = identity;
    return 1;
}

void SessionKeeper::loginProgress(ServerRequest& request, uint32_t stage) {
    if (stage != ServerRequest::kFailed && stage != ServerRequest::kSucceeded) return;
    if (&request != m_pendingRequest) {
        // Told its end before it was let go of: it is ours to free, and its
        // session (if any) is not wanted any more.
        finishRequest(request);
        return;
    }
    m_pendingRequest = nullptr;
    m_pendingIdentity = 0;
    TextString failure;
    if (stage == ServerRequest::kSucceeded && request.socket) {
        TcpSocket* const socket = request.socket.get();
        ConnectionMonitor& monitor = *m_setup.monitor;
        if (monitor.post(2, ConnectionMonitor::kWatch, socket)) {
            monitor.post(3, ConnectionMonitor::kAttach, static_cast<Observer*>(this), socket);
            std::unique_ptr<TcpSocket> session = std::move(request.socket);
            if (m_setup.port) m_setup.port->loggedIn(request);
            finishRequest(request);
            setState(1, std::move(session));
            return;
        }
        failure = kConnectionLost;
    } else {
        failure = request.messageText.isEmpty() ? TextString(kCannotConnect) : request.messageText;
    }
    finishRequest(request);
    showInfo(failure.c_str());
    setState(0, nullptr);
}

void SessionKeeper::connectionDropped(TcpSocket* connection) {
    // A drop posted before the session was let go of finds another state.
    if (!connection || connection != m_connection.get()) return;
    m_connection.reset();
    if (m_lastConnected == 0) {
        setState(0, nullptr);
    } else if (m_setup.port) {
        m_setup.port->sessionLost();
    }
}

uint32_t SessionKeeper::disconnect() {
    if (!m_connected) {
        if (!m_pendingIdentity) return 0;
        m_setup.requests->cancel(m_pendingIdentity);
        m_pendingRequest = nullptr;
        m_pendingIdentity = 0;
        return 1;
    }
    releaseConnection();
    if (m_pendingIdentity) m_setup.requests->cancel(m_pendingIdentity);
    m_pendingRequest = nullptr;
    m_pendingIdentity = 0;
    setState(0, nullptr);
    return 1;
}

uint32_t SessionKeeper::update(Subject&, std::uintptr_t argument) {
    if (m_setup.port) m_setup.port->postConnectionDropped(reinterpret_cast<TcpSocket*>(argument));
    return 1;
}

void SessionKeeper::releaseConnection() {
    if (!m_connection) return;
    ConnectionMonitor& monitor = *m_setup.monitor;
    monitor.post(3, ConnectionMonitor::kDetach, static_cast<Observer*>(this), m_connection.get());
    monitor.post(2, ConnectionMonitor::kStopWatching, m_connection.get());
    m_connection->Close();
    m_connection.reset();
}

// The worker lets go of the request's lock right after it told of the end.
void SessionKeeper::finishRequest(ServerRequest& request) {
    request.lock.wait();
    request.lock.release();
    delete &request;
}

} // namespace vp
