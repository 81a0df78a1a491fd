#include "Server.h"

#include "storage/Storage.h"

#include <boost/asio.hpp>
#include <spdlog/spdlog.h>

#include <utility>

namespace vp::server {

namespace asio = boost::asio;
using asio::ip::tcp;

struct Server::Impl {
    Impl(asio::io_context& ioContext, const ServerConfig& serverConfig, Storage& serverStorage)
        : io(ioContext), config(serverConfig), storage(serverStorage), acceptor(ioContext) {}

    // Takes connections until the listener is closed.
    asio::awaitable<void> acceptLoop() {
        for (;;) {
            boost::system::error_code error;
            tcp::socket socket = co_await acceptor.async_accept(asio::redirect_error(asio::use_awaitable, error));
            if (error == asio::error::operation_aborted || !acceptor.is_open()) co_return;
            if (error) {
                spdlog::warn("accept failed: {}", error.message());
                continue;
            }
            socket.close(error);
        }
    }

    asio::io_context& io;
    ServerConfig config;
    Storage& storage;
    tcp::acceptor acceptor;
};

Server::Server(asio::io_context& io, const ServerConfig& config, Storage& storage)
    : m_impl(std::make_unique<Impl>(io, config, storage)) {}

Server::~Server() = default;

bool Server::start() {
    boost::system::error_code error;
    const auto address = asio::ip::make_address(m_impl->config.listenAddress, error);
    if (error) {
        spdlog::error("cannot listen on {}: {}", m_impl->config.listenAddress, error.message());
        return false;
    }
    const tcp::endpoint endpoint(address, m_impl->config.port);
    auto& acceptor = m_impl->acceptor;
    acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        spdlog::error("cannot listen on {}:{}: {}", m_impl->config.listenAddress, m_impl->config.port,
                      error.message());
        acceptor.close(error);
        return false;
    }
    asio::co_spawn(m_impl->io, m_impl->acceptLoop(), asio::detached);
    return true;
}

uint16_t Server::port() const {
    boost::system::error_code error;
    const auto endpoint = m_impl->acceptor.local_endpoint(error);
    return error ? 0 : endpoint.port();
}

void Server::announce(std::string text) {
    spdlog::info("announcement of {} bytes", text.size());
}

void Server::stop() {
    boost::system::error_code error;
    m_impl->acceptor.close(error);
}

} // namespace vp::server
