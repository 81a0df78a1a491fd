#include "WebHost.h"

#include "FramedSocket.h"
#include "ServerState.h"
#include "WebForms.h"
#include "WebRoutes.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <spdlog/spdlog.h>

#include <mutex>
#include <string>
#include <unordered_map>

namespace vp::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;

namespace {

constexpr auto kAwaitTuple = asio::as_tuple(asio::use_awaitable);
// The client's request starts with this; no HTTP method is in lower case.
constexpr std::string_view kClientLine = "get ";
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

// One accepted connection, on a strand of its own.
struct Exchange {
    explicit Exchange(tcp::socket socket) : stream(std::move(socket)) {}
    beast::tcp_stream stream;
    std::string peer;
};

} // namespace

struct WebHost::Impl {
    explicit Impl(std::shared_ptr<ServerState> serverState)
        : state(std::move(serverState)), acceptor(state->io) {}

    static asio::awaitable<void> acceptLoop(std::shared_ptr<Impl> self);
    static asio::awaitable<void> serve(std::shared_ptr<Impl> self, std::shared_ptr<Exchange> exchange);
    static asio::awaitable<void> serveClientLine(std::shared_ptr<Impl> self, Exchange& exchange, std::string line);
    static asio::awaitable<void> serveHttp(std::shared_ptr<Impl> self, Exchange& exchange, beast::flat_buffer& buffer);
    static asio::awaitable<bool> send(Exchange& exchange, HttpResponse& response, Clock::duration limit);

    // Keeps an exchange where stop can close it; false after the stop.
    bool hold(const std::shared_ptr<Exchange>& exchange) {
        std::lock_guard lock(mutex);
        if (stopping) return false;
        open.emplace(exchange.get(), exchange);
        return true;
    }
    void release(const Exchange* exchange) {
        std::lock_guard lock(mutex);
        open.erase(exchange);
    }

    std::shared_ptr<ServerState> state;
    tcp::acceptor acceptor;
    uint16_t port = 0;
    std::string webAddress;
    std::mutex mutex;
    bool stopping = false;
    std::unordered_map<const Exchange*, std::weak_ptr<Exchange>> open;
};

asio::awaitable<void> WebHost::Impl::acceptLoop(std::shared_ptr<Impl> self) {
    for (;;) {
        tcp::socket socket(asio::make_strand(self->state->io));
        boost::system::error_code error;
        std::tie(error) = co_await self->acceptor.async_accept(socket, kAwaitTuple);
        if (!self->acceptor.is_open()) co_return;
        if (error) {
            spdlog::warn("web: accepting a connection failed: {}", error.message());
            asio::steady_timer pause(self->state->io, kAcceptPause);
            co_await pause.async_wait(kAwaitTuple);
            continue;
        }
        auto exchange = std::make_shared<Exchange>(std::move(socket));
        if (!self->hold(exchange)) co_return;
        auto executor = exchange->stream.get_executor();
        asio::co_spawn(executor, serve(self, std::move(exchange)), asio::detached);
    }
}

// The first bytes tell the client's line from a browser's request; each
// then reads within the header time-out and the size bounds.
asio::awaitable<void> WebHost::Impl::serve(std::shared_ptr<Impl> self, std::shared_ptr<Exchange> exchange) {
    boost::system::error_code error;
    const auto remote = exchange->stream.socket().remote_endpoint(error);
    exchange->peer = error ? std::string("?") : remote.address().to_string();
    exchange->stream.expires_after(self->state->config.headerTimeout);
    beast::flat_buffer buffer(kMaxRequestHead + kMaxRequestBody);
    auto data = [&buffer] {
        return std::string_view(static_cast<const char*>(buffer.data().data()), buffer.size());
    };
    while (buffer.size() < kClientLine.size() && data().find('\n') == std::string_view::npos) {
        std::size_t got = 0;
        std::tie(error, got) = co_await exchange->stream.async_read_some(buffer.prepare(512), kAwaitTuple);
        if (error) break;
        buffer.commit(got);
    }
    if (error) {
        spdlog::info("web: {} closed or went quiet before a request: {}", exchange->peer, error.message());
    } else if (data().starts_with(kClientLine)) {
        co_await serveClientLine(self, *exchange, std::string(data()));
    } else {
        co_await serveHttp(self, *exchange, buffer);
    }
    exchange->stream.socket().shutdown(tcp::socket::shutdown_both, error);
    exchange->stream.close();
    self->release(exchange.get());
}

asio::awaitable<void> WebHost::Impl::serveClientLine(std::shared_ptr<Impl> self, Exchange& exchange,
                                                     std::string line) {
    boost::system::error_code error;
    std::size_t length = 0;
    std::tie(error, length) = co_await asio::async_read_until(
        exchange.stream, asio::dynamic_buffer(line, kMaxRequestHead), '\n', kAwaitTuple);
    if (error == asio::error::not_found) {
        spdlog::info("web: {} sent a request line longer than {} bytes; closed", exchange.peer, kMaxRequestHead);
        co_return;
    }
    if (error) {
        spdlog::info("web: {} ended its request line early: {}", exchange.peer, error.message());
        co_return;
    }
    std::string target = line.substr(kClientLine.size(), length - kClientLine.size() - 1);
    if (!target.empty() && target.back() == '\r') target.pop_back();
    const std::string path = target.substr(0, target.find('?'));
    std::string outcome;
    const std::string reply = co_await answerClientLine(*self->state, std::move(target), self->webAddress, outcome);
    if (!reply.empty()) {
        exchange.stream.expires_after(self->state->config.headerTimeout);
        std::tie(error, length) = co_await asio::async_write(exchange.stream, asio::buffer(reply), kAwaitTuple);
        if (error) outcome += ", not sent: " + error.message();
    }
    spdlog::info("web: {} get {}: {}", exchange.peer, path, outcome);
}

asio::awaitable<void> WebHost::Impl::serveHttp(std::shared_ptr<Impl> self, Exchange& exchange,
                                               beast::flat_buffer& buffer) {
    http::request_parser<http::string_body> parser;
    parser.header_limit(static_cast<std::uint32_t>(kMaxRequestHead));
    parser.body_limit(kMaxRequestBody);
    boost::system::error_code error;
    std::size_t length = 0;
    std::tie(error, length) = co_await http::async_read(exchange.stream, buffer, parser, kAwaitTuple);
    const std::string& serverName = self->state->config.serverName;
    HttpResponse response;
    std::string outcome;
    if (error == http::error::header_limit || error == http::error::body_limit ||
        error == http::error::buffer_overflow) {
        response = refusal(serverName, http::status::payload_too_large, "The request is larger than this host takes.");
    } else if (error == beast::error::timeout || error == http::error::end_of_stream ||
               error == asio::error::operation_aborted || error == asio::error::connection_reset) {
        spdlog::info("web: {} closed or went quiet before a whole request: {}", exchange.peer, error.message());
        co_return;
    } else if (error) {
        response = refusal(serverName, http::status::bad_request, "This host could not read the request.");
    } else {
        const HttpRequest& request = parser.get();
        response = co_await answerHttp(*self->state, request, self->webAddress, outcome);
    }
    std::string what = "request";
    if (!error) {
        const HttpRequest& request = parser.get();
        what = std::string(request.method_string()) + " " + std::string(request.target().substr(0, 200));
    }
    const bool sent = co_await send(exchange, response, self->state->config.headerTimeout);
    if (error) outcome = error.message();
    if (!sent) outcome += outcome.empty() ? "not sent" : ", not sent";
    spdlog::info("web: {} {}: {}{}{}", exchange.peer, what, response.result_int(), outcome.empty() ? "" : " ", outcome);
}

asio::awaitable<bool> WebHost::Impl::send(Exchange& exchange, HttpResponse& response, Clock::duration limit) {
    exchange.stream.expires_after(limit);
    boost::system::error_code error;
    std::size_t length = 0;
    std::tie(error, length) = co_await http::async_write(exchange.stream, response, kAwaitTuple);
    co_return !error;
}

WebHost::WebHost(std::shared_ptr<ServerState> state) : m_impl(std::make_shared<Impl>(std::move(state))) {}

WebHost::~WebHost() = default;

bool WebHost::start() {
    const ServerConfig& config = m_impl->state->config;
    boost::system::error_code error;
    const auto address = asio::ip::make_address(config.listenAddress, error);
    const tcp::endpoint endpoint(address, config.webPort);
    auto& acceptor = m_impl->acceptor;
    if (!error) acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    const auto bound = error ? tcp::endpoint() : acceptor.local_endpoint(error);
    if (error) {
        spdlog::error("web: cannot listen on {}:{}: {}", config.listenAddress, config.webPort, error.message());
        acceptor.close(error);
        return false;
    }
    m_impl->port = bound.port();
    m_impl->webAddress = webAddressOf(config, m_impl->port);
    asio::co_spawn(m_impl->state->io, Impl::acceptLoop(m_impl), asio::detached);
    return true;
}

uint16_t WebHost::port() const { return m_impl->port; }

// The listener closes on the io_context's thread, each connection on its
// strand; their coroutines then end through their own close.
void WebHost::stop() {
    asio::post(m_impl->state->io, [impl = m_impl] {
        boost::system::error_code ignored;
        impl->acceptor.close(ignored);
        std::vector<std::shared_ptr<Exchange>> open;
        {
            std::lock_guard lock(impl->mutex);
            impl->stopping = true;
            for (const auto& [key, exchange] : impl->open)
                if (auto held = exchange.lock()) open.push_back(std::move(held));
        }
        for (const auto& exchange : open)
            asio::post(exchange->stream.get_executor(), [exchange] { exchange->stream.close(); });
    });
}

} // namespace vp::server
