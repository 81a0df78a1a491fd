#include "services/ListenerService.h"

#include "protocol/ClientProtocol.h"

#include <new>
#include <utility>

namespace vp {

ListenerService::ListenerService(ListenerSetup setup) : m_setup(std::move(setup)) {
    if (!m_setup.protocol.relay) m_setup.protocol.relay = &m_relays;
}

ListenerService::~ListenerService() {
    closeListeners();
    stop();
    m_relays.stop();
}

uint32_t ListenerService::openListeners() {
    const uint32_t peer = openListener(m_peer, m_setup.peerPort, kRunPeerAccept);
    const uint32_t http = openListener(m_http, m_setup.httpPort, kRunHttpAccept);
    return peer && http ? 1 : 0;
}

uint32_t ListenerService::openListener(Listener& listener, uint16_t port, std::uintptr_t loopCode) {
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (!started() || listener.looping) return 0;
        listener.socket = TcpSocket();
        if (!listener.socket.IsValid()) return 0;
        const char* address = m_setup.bindAddress.empty() ? nullptr : m_setup.bindAddress.c_str();
        if (!listener.socket.Bind(port, address) || !listener.socket.Listen()) {
            listener.socket.Close();
            return 0;
        }
        listener.bound = listener.socket.LocalPort();
        // Set before the loop runs, so that a close meanwhile waits for it.
        listener.looping = true;
    }
    if (post(2, loopCode, &listener)) return 1;
    const std::lock_guard<std::mutex> guard(m_lock);
    listener.looping = false;
    listener.bound = 0;
    listener.socket.Close();
    return 0;
}

void ListenerService::closeListeners() {
    closeListener(m_peer);
    closeListener(m_http);
    closeEventConnection();
}

// The loop's Accept fails once the socket is cancelled; the socket is
// closed only after the loop has let go of it.
void ListenerService::closeListener(Listener& listener) {
    std::unique_lock<std::mutex> guard(m_lock);
    listener.socket.Cancel();
    m_ended.wait(guard, [&listener] { return !listener.looping; });
    listener.socket = TcpSocket(platform::kNoSocket);
    listener.bound = 0;
}

void ListenerService::closeEventConnection() {
    std::unique_lock<std::mutex> guard(m_lock);
    m_event.Cancel();
    m_ended.wait(guard, [this] { return !m_eventRunning; });
}

uint32_t ListenerService::isPeerListenerRunning() { return m_peer.bound.load() != 0 ? 1 : 0; }

uint32_t ListenerService::openEventConnection(const TextString& serverHost, const TextString& ticket) {
    return post(3, kRunEventConnection, &serverHost, &ticket);
}

uint32_t ListenerService::handleRequest(uint32_t sender, uint32_t argumentCount, const std::uintptr_t* args) {
    const std::uintptr_t code = args[0];
    switch (code) {
    case kRunPeerAccept:
        acceptLoop(sender, *reinterpret_cast<Listener*>(args[1]), kServePeer);
        return 1;
    case kRunHttpAccept:
        acceptLoop(sender, *reinterpret_cast<Listener*>(args[1]), kServeHttp);
        return 1;
    case kServePeer:
    case kServeHttp:
        serveConnection(sender, code, reinterpret_cast<TcpSocket*>(args[1]));
        return 1;
    case kRunEventConnection:
        if (argumentCount >= 3) {
            // Copied before the answer: the texts live on the poster's stack.
            const TextString host = *reinterpret_cast<const TextString*>(args[1]);
            const TextString ticket = *reinterpret_cast<const TextString*>(args[2]);
            runEventConnection(sender, host, ticket);
            return 1;
        }
        break;
    default:
        break;
    }
    answer(sender, 0);
    return 0;
}

void ListenerService::acceptLoop(uint32_t sender, Listener& listener, std::uintptr_t serveCode) {
    answer(sender, 1);
    {
        const ScopedCancelAction cancelled([this, &listener] {
            const std::lock_guard<std::mutex> guard(m_lock);
            listener.socket.Cancel();
        });
        for (;;) {
            TcpSocket accepted = listener.socket.Accept();
            if (!accepted.IsConnected()) break;
            auto* connection = new (std::nothrow) TcpSocket(std::move(accepted));
            // Not taken by a worker: closed here.
            if (connection && !post(2, serveCode, connection)) delete connection;
        }
    }
    const std::lock_guard<std::mutex> guard(m_lock);
    listener.looping = false;
    m_ended.notify_all();
}

// The connection is this worker's once the accept loop has the answer; a
// stop that answered first leaves it with the loop.
void ListenerService::serveConnection(uint32_t sender, std::uintptr_t code, TcpSocket* accepted) {
    if (!accepted || !answer(sender, 1)) return;
    std::unique_ptr<TcpSocket> connection(accepted);
    {
        const ScopedCancelAction cancelled([&connection] { connection->Cancel(); });
        if (code == kServePeer) ClientProtocol(m_setup.protocol).HandleRequest(*connection);
        else if (m_setup.serveHttp) m_setup.serveHttp(*connection);
    }
    connection->Close();
}

// A new event connection replaces the one before.
void ListenerService::runEventConnection(uint32_t sender, const TextString& host, const TextString& ticket) {
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_event.Cancel();
        m_ended.wait(guard, [this] { return !m_eventRunning; });
        m_event = TcpSocket();
        m_eventRunning = true;
    }
    answer(sender, 1);
    {
        const ScopedCancelAction cancelled([this] {
            const std::lock_guard<std::mutex> guard(m_lock);
            m_event.Cancel();
        });
        ClientProtocol protocol(m_setup.protocol);
        if (protocol.OpenChannel(m_event, host, ticket))
            while (protocol.ChannelMessage(m_event)) {}
    }
    const std::lock_guard<std::mutex> guard(m_lock);
    m_event.Close();
    m_eventRunning = false;
    m_ended.notify_all();
}

} // namespace vp
