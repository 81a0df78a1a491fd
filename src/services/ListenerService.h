#pragma once
// The client's listening side: the peer listener, where other clients
// deliver notes and the server pushes its notices; the local HTTP listener,
// where a page in the user's own browser adds a contact; and the server
// event connection (the relay channel), opened after a log-in that found
// this client unreachable. Every accepted connection and the event
// connection are served on worker threads of their own.

#include "foundation/Service.h"
#include "foundation/TcpSocket.h"
#include "protocol/ProtocolPorts.h"
#include "protocol/RelayAnswers.h"
#include "wire/Wire.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace vp {

struct ListenerSetup {
    // What peer connections and the event connection are served with: the
    // note receiver, the relay answers, the contact model, the announcement
    // box, the server port.
    ProtocolContext protocol;
    // Serves one accepted HTTP connection; none: such a connection is
    // closed at once.
    std::function<void(TcpSocket& connection)> serveHttp;
    // Every local address unless the robot or a test names one.
    std::string bindAddress;
    uint16_t peerPort = wire::kPeerPort;
    uint16_t httpPort = wire::kLocalHttpPort;
};

class ListenerService final : public Service, public PeerListenerPort {
public:
    static constexpr std::uintptr_t kRunPeerAccept = 101;
    static constexpr std::uintptr_t kServePeer = 102;
    static constexpr std::uintptr_t kRunEventConnection = 103;
    static constexpr std::uintptr_t kRunHttpAccept = 104;
    static constexpr std::uintptr_t kServeHttp = 105;

    explicit ListenerService(ListenerSetup setup);
    ~ListenerService() override;

    // The peer listener, then the HTTP listener: 1 only when both opened. A
    // listener already open is left as it is (and counts as not opened).
    uint32_t openListeners();
    // The peer listener, the HTTP listener and the event connection, in this
    // order; each accept loop has ended when this returns.
    void closeListeners();
    // Only the event connection (the client disconnects).
    void closeEventConnection();

    // ---- PeerListenerPort, for the log-in ----
    uint32_t isPeerListenerRunning() override;
    // Opens the relay channel to serverHost with ticket in the background.
    uint32_t openEventConnection(const TextString& serverHost, const TextString& ticket) override;

    // The port each listener got (the fixed ones unless set up otherwise; 0
    // while closed).
    uint16_t peerPort() const { return m_peer.bound.load(); }
    uint16_t httpPort() const { return m_http.bound.load(); }

protected:
    uint32_t handleRequest(uint32_t sender, uint32_t argumentCount, const std::uintptr_t* args) override;

private:
    // One listener: its socket, the port it got, whether its accept loop
    // runs.
    struct Listener {
        TcpSocket socket{platform::kNoSocket};
        std::atomic<uint16_t> bound{0};
        bool looping = false;
    };
    uint32_t openListener(Listener& listener, uint16_t port, std::uintptr_t loopCode);
    void closeListener(Listener& listener);
    void acceptLoop(uint32_t sender, Listener& listener, std::uintptr_t serveCode);
    void serveConnection(uint32_t sender, std::uintptr_t code, TcpSocket* accepted);
    void runEventConnection(uint32_t sender, const TextString& host, const TextString& ticket);

    ListenerSetup m_setup;
    // The relay threads of the relay requests that arrive on either side,
    // when the setup names none.
    RelayAnswers m_relays;
    // Guards the sockets against being replaced while another thread
    // cancels them, and the flags.
    std::mutex m_lock;
    std::condition_variable m_ended;
    Listener m_peer;
    Listener m_http;
    TcpSocket m_event{platform::kNoSocket};
    bool m_eventRunning = false;
};

} // namespace vp
