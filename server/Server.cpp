#include "Server.h"

#include "Conversation.h"
#include "FramedSocket.h"
#include "Pushes.h"
#include "ServerState.h"
#include "WebHost.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <spdlog/spdlog.h>

#include <chrono>
#include <utility>

namespace vp::server {

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

// After a failed accept (out of file handles, say) the listener pauses
// this long instead of spinning.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

// Each connection gets a strand of its own: its conversation, its
// deadlines and whatever other conversations ask of it run there in turn.
asio::awaitable<void> acceptLoop(std::shared_ptr<ServerState> state) {
    for (;;) {
        tcp::socket socket(asio::make_strand(state->io));
        boost::system::error_code error;
        co_await state->acceptor.async_accept(socket, asio::redirect_error(asio::use_awaitable, error));
        if (!state->acceptor.is_open()) co_return;
        if (error) {
            spdlog::warn("accepting a connection failed: {}", error.message());
            asio::steady_timer pause(state->io, kAcceptPause);
            co_await pause.async_wait(asio::redirect_error(asio::use_awaitable, error));
            continue;
        }
        std::make_shared<Conversation>(state, FramedSocket::create(std::move(socket), state->connections))->start();
    }
}

} // namespace

struct Server::Impl {
    explicit Impl(std::shared_ptr<ServerState> serverState) : state(std::move(serverState)), web(state) {}
    std::shared_ptr<ServerState> state;
    WebHost web;
    uint16_t port = 0;
};

Server::Server(asio::io_context& io, const ServerConfig& config, Storage& storage)
    : m_impl(std::make_unique<Impl>(std::make_shared<ServerState>(io, config, storage))) {}

Server::~Server() = default;

bool Server::start() {
    ServerState& state = *m_impl->state;
    boost::system::error_code error;
    const auto address = asio::ip::make_address(state.config.listenAddress, error);
    if (error) {
        spdlog::error("cannot listen on {}: {}", state.config.listenAddress, error.message());
        return false;
    }
    const tcp::endpoint endpoint(address, state.config.port);
    auto& acceptor = state.acceptor;
    acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    const auto bound = error ? tcp::endpoint() : acceptor.local_endpoint(error);
    if (error) {
        spdlog::error("cannot listen on {}:{}: {}", state.config.listenAddress, state.config.port, error.message());
        acceptor.close(error);
        return false;
    }
    if (!m_impl->web.start()) {
        acceptor.close(error);
        return false;
    }
    m_impl->port = bound.port();
    asio::co_spawn(state.io, acceptLoop(m_impl->state), asio::detached);
    return true;
}

uint16_t Server::port() const { return m_impl->port; }

uint16_t Server::webPort() const { return m_impl->web.port(); }

void Server::announce(std::string text) {
    asio::post(m_impl->state->io, [state = m_impl->state, text = std::move(text)] {
        spdlog::info("announcement to everyone online: {}", text);
        pushAnnouncement(state, text);
    });
}

// The listener closes on the io_context's own thread; every connection
// closes on its strand, and the conversations then end through their
// teardown.
void Server::stop() {
    m_impl->web.stop();
    asio::post(m_impl->state->io, [state = m_impl->state] {
        boost::system::error_code ignored;
        state->acceptor.close(ignored);
        state->connections->closeAll();
    });
}

} // namespace vp::server
