#pragma once
// What the network tests of the server share: a database with three users,
// a server running in this process on its own thread (address and short
// time-outs of the test's choice), the client's own operations against it,
// and the peer port of the test's clients, which takes pushed notices as a
// client does and keeps their bytes.

#include "Server.h"
#include "foundation/LittleEndian.h"
#include "protocol/ClientProtocol.h"
#include "storage/PasswordHash.h"
#include "storage/SqliteStorage.h"
#include "support/ClientCalls.h"
#include "support/Eventually.h"
#include "support/ScriptedPeer.h"
#include "support/TempDir.h"

#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vp::test {

// Exactly count bytes, or what came before the other side closed or went
// quiet for five seconds.
inline std::string receive(TcpSocket& socket, size_t count) {
    std::string bytes(count, '\0');
    size_t at = 0;
    while (at < count) {
        const uint32_t got = socket.RecvTimed(bytes.data() + at, static_cast<uint32_t>(count - at), 5);
        if (got == 0) break;
        at += got;
    }
    return bytes.substr(0, at);
}

inline bool sendBytes(TcpSocket& socket, const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
        const uint32_t sent = socket.Send(bytes.data() + at, static_cast<uint32_t>(bytes.size() - at));
        if (sent == 0) return false;
        at += sent;
    }
    return true;
}

// True once the other side has closed the connection (not merely gone quiet).
inline bool closedByPeer(TcpSocket& socket) {
    char byte = 0;
    return socket.RecvTimed(&byte, 1, 5) == 0 && socket.LastError() != TcpSocket::ErrTimeout;
}

class PeerPort {
public:
    explicit PeerPort(const std::string& host) {
        if (m_listener.Bind(0, host.c_str()) == 1 && m_listener.Listen() == 1) m_port = m_listener.LocalPort();
        m_thread = std::thread([this] {
            for (;;) {
                TcpSocket connection = m_listener.Accept();
                if (!connection.IsConnected()) return;
                const std::string header = receive(connection, 12);
                const uint32_t length =
                    header.size() == 12 ? readLittleEndian32(reinterpret_cast<const uint8_t*>(header.data()) + 8) : 0;
                sendBytes(connection, yes());
                const std::string payload = receive(connection, length);
                sendBytes(connection, yes());
                std::lock_guard lock(m_mutex);
                m_pushes.push_back(header + payload);
            }
        });
    }
    ~PeerPort() {
        m_listener.Cancel();
        m_thread.join();
    }
    uint16_t port() const { return m_port; }
    std::vector<std::string> pushes() {
        std::lock_guard lock(m_mutex);
        return m_pushes;
    }

private:
    TcpSocket m_listener;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_pushes;
};

class ServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* user : {"ann", "bob", "carol"}) s_hashes.push_back(*server::hashPassword(std::string(user) + "-pw"));
    }

    void SetUp() override {
        ASSERT_EQ(NetStartup(), 1u);
        char local[64] = {};
        if (LocalAddress(local, sizeof local)) m_host = local;
        m_storage = server::SqliteStorage::open((m_dir.native() / "accounts.db").string());
        ASSERT_TRUE(m_storage);
        const char* users[] = {"ann", "bob", "carol"};
        for (size_t i = 0; i < 3; ++i) ASSERT_EQ(m_storage->addUser(users[i], s_hashes[i], {}), server::StorageResult::Done);
        m_config.listenAddress = m_host;
        m_config.port = 0;
        m_config.webPort = 0;
        m_config.serverName = "mainhub";
        m_config.greeting = "Hello from mainhub.";
        m_config.headerTimeout = std::chrono::seconds(1);
        m_config.idleTimeout = std::chrono::seconds(1);
        m_peers = std::make_unique<PeerPort>(m_host);
        m_config.peerPort = m_peers->port();
    }

    void TearDown() override {
        if (m_server) {
            m_server->stop();
            m_thread.join();
        }
        m_server.reset();
        NetCleanup();
    }

    void startServer() {
        m_server = std::make_unique<server::Server>(m_io, m_config, *m_storage);
        ASSERT_TRUE(m_server->start());
        m_port = m_server->port();
        m_thread = std::thread([this] { m_io.run(); });
    }

    // The client's own requests against the server of the test.
    ClientCalls client() const { return {m_host, m_port}; }
    std::string login(TcpSocket& socket, const char* user, const char* password, bool reachable = true,
                      std::string* ticket = nullptr) {
        return client().login(socket, user, password, reachable, ticket);
    }
    std::string locate(const char* user) { return client().locate(user); }
    std::string queryStatus(const char* user, const char* asker) { return client().queryStatus(user, asker); }

    static inline std::vector<std::string> s_hashes;
    TempDir m_dir;
    std::string m_host = "127.0.0.1";
    std::unique_ptr<server::SqliteStorage> m_storage;
    server::ServerConfig m_config;
    std::unique_ptr<PeerPort> m_peers;
    boost::asio::io_context m_io;
    std::unique_ptr<server::Server> m_server;
    std::thread m_thread;
    uint16_t m_port = 0;
};

// One side of a scripted exchange: what the test sends, or expects.
struct Step {
    enum { Send, Expect } kind;
    std::string bytes;
};

// Plays the steps on socket; what went wrong, or an empty text.
inline std::string play(TcpSocket& socket, const std::vector<Step>& steps) {
    std::string failures;
    for (const Step& step : steps) {
        if (step.kind == Step::Send && !sendBytes(socket, step.bytes)) failures += "could not send " + hex(step.bytes) + "\n";
        if (step.kind != Step::Expect) continue;
        const std::string got = receive(socket, step.bytes.size());
        if (got != step.bytes) failures += "expected " + hex(step.bytes) + "\n     got " + hex(got) + "\n";
    }
    return failures;
}

// A presence notice as it reaches the peer port: the block, then the user,
// its server, its address and the status.
inline std::string contactStatus(const std::string& user, const std::string& address, uint32_t status) {
    const std::string payload = le32(static_cast<uint32_t>(user.size())) + le32(7) +
                                le32(static_cast<uint32_t>(address.size())) + le32(4) + user + "mainhub" + address +
                                le32(status);
    return frame(kOwnVersion, 102, static_cast<uint32_t>(payload.size())) + payload;
}

} // namespace vp::test
