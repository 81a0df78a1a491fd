#pragma once
// The client's own session requests, each made as the client makes it on a
// connection of its own, against a server at host:port; each gives the
// error text the client was left with, or "OK " and the reply text.

#include "protocol/ClientProtocol.h"

#include <cstdint>
#include <string>

namespace vp::test {

// The client's peer listener as the session sees it: running or not, and
// the relay ticket a log-in behind a proxy hands over.
class FakeListener : public PeerListenerPort {
public:
    explicit FakeListener(uint32_t isRunning) : running(isRunning) {}
    uint32_t isPeerListenerRunning() override { return running; }
    uint32_t openEventConnection(const TextString&, const TextString& received) override {
        ticket = received.c_str();
        return 1;
    }
    uint32_t running;
    std::string ticket;
};

struct ClientCalls {
    std::string host;
    uint16_t port = 0;

    template <typename Operation>
    std::string request(Operation operation) const {
        ProtocolContext context;
        context.serverPort = port;
        ClientProtocol protocol(context);
        TcpSocket socket;
        if (!protocol.ConnectToServer(socket, host.c_str(), port, 5000, 100)) return "no connection";
        return operation(protocol, socket) ? "OK " + std::string(protocol.replyText().c_str())
                                           : std::string(protocol.errorText().c_str());
    }

    // Logs in on socket, which stays open as the session; the greeting or
    // the error text, and the relay ticket for a client behind a proxy.
    std::string login(TcpSocket& socket, const char* user, const char* password, bool reachable = true,
                      std::string* ticket = nullptr) const {
        FakeListener listener(reachable ? 1 : 0);
        const std::string result = loginWith(socket, user, password, listener);
        if (ticket) *ticket = listener.ticket;
        return result;
    }
    // The same with a listener of the caller's, which opens the relay
    // channel when the log-in gives a ticket.
    std::string loginWith(TcpSocket& socket, const char* user, const char* password, PeerListenerPort& listener) const {
        ProtocolContext context;
        context.serverPort = port;
        context.listener = &listener;
        ClientProtocol protocol(context);
        TextString result;
        if (!protocol.ConnectToServer(socket, host.c_str(), port, 5000, 100)) return "no connection";
        const uint32_t ok = protocol.Login(result, socket, host.c_str(), user, password);
        return (ok ? "OK " : "") + std::string(result.c_str());
    }

    std::string locate(const char* user) const {
        return request([&](ClientProtocol& protocol, TcpSocket& socket) { return protocol.Locate(socket, user, 5000); });
    }

    // asker asks for user's presence: "address status", or the error text.
    std::string queryStatus(const char* user, const char* asker) const {
        TextString address;
        uint32_t status = 9;
        const std::string outcome = request([&](ClientProtocol& protocol, TcpSocket& socket) {
            return protocol.QueryStatus(address, status, socket, user, "mainhub", asker, "mainhub", 1);
        });
        return outcome.starts_with("OK") ? std::string(address.c_str()) + " " + std::to_string(status) : outcome;
    }

    std::string changePassword(const char* user, const char* current, const char* next) const {
        return request([&](ClientProtocol& protocol, TcpSocket& socket) {
            return protocol.ChangePassword(socket, user, current, user, next);
        });
    }
};

} // namespace vp::test
