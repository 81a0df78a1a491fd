#pragma once
// A client's peer port for tests: listens on a loopback address and port
// (0: one the system picks) and answers each connection on a thread of its
// own with ClientProtocol::HandleRequest, as the listener service would.
// The context names the NoteReceiver that takes the notes in. stop() closes
// the listener and every open connection and joins their threads.

#include "foundation/TcpSocket.h"
#include "protocol/ClientProtocol.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace vp::test {

class NoteListener {
public:
    NoteListener(const ProtocolContext& context, const char* address, uint16_t port) : m_context(context) {
        if (m_listener.Bind(port, address) && m_listener.Listen()) {
            m_port = m_listener.LocalPort();
            m_thread = std::thread([this] { run(); });
        }
    }
    ~NoteListener() { stop(); }
    NoteListener(const NoteListener&) = delete;
    NoteListener& operator=(const NoteListener&) = delete;

    // 0 when the address could not be listened on.
    uint16_t port() const { return m_port; }

    void stop() {
        m_listener.Cancel();
        if (m_thread.joinable()) m_thread.join();
        std::list<Connection> connections;
        {
            const std::lock_guard<std::mutex> guard(m_lock);
            for (Connection& connection : m_connections) connection.socket->Cancel();
            connections.swap(m_connections);
        }
        for (Connection& connection : connections) connection.thread.join();
    }

private:
    struct Connection {
        std::unique_ptr<TcpSocket> socket;
        std::thread thread;
    };

    void run() {
        for (;;) {
            auto socket = std::make_unique<TcpSocket>(m_listener.Accept());
            if (!socket->IsConnected()) return;
            TcpSocket* const served = socket.get();
            const std::lock_guard<std::mutex> guard(m_lock);
            m_connections.push_back({std::move(socket), std::thread([this, served] {
                                         ClientProtocol(m_context).HandleRequest(*served);
                                         served->Close();
                                     })});
        }
    }

    ProtocolContext m_context;
    TcpSocket m_listener;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::mutex m_lock;
    std::list<Connection> m_connections;
};

} // namespace vp::test
