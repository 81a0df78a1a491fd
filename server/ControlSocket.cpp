#include "ControlSocket.h"

#include <boost/asio.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <list>
#include <optional>

namespace vp::server {

namespace asio = boost::asio;
using Local = asio::local::stream_protocol;
using asio::experimental::awaitable_operators::operator||;

namespace {

constexpr auto kAwaitTuple = asio::as_tuple(asio::use_awaitable);
constexpr std::string_view kAnnounce = "announce ";

bool fitsSocketPath(const std::string& path) {
    return !path.empty() && path.size() < sizeof(sockaddr_un::sun_path);
}

} // namespace

struct ControlSocket::Impl {
    Impl(asio::io_context& context, std::string socketPath, AnnounceHandler handler)
        : io(context), path(std::move(socketPath)), onAnnounce(std::move(handler)), acceptor(context) {}

    std::string answer(std::string_view request);
    // The coroutines hold the shared state, so a ControlSocket destroyed
    // while they wait for their cancellation leaves nothing dangling.
    static asio::awaitable<void> acceptLoop(std::shared_ptr<Impl> self);
    static asio::awaitable<void> serve(std::shared_ptr<Impl> self, Local::socket socket);

    asio::io_context& io;
    std::string path;
    AnnounceHandler onAnnounce;
    Local::acceptor acceptor;
    // The connections being served, so that stop can close them.
    std::list<Local::socket*> connections;
    // The socket file this server made, so that stop removes only that one.
    std::optional<ino_t> boundFile;
};

namespace {

// Keeps a connection in the list of open ones for as long as it is served.
class ConnectionEntry {
public:
    ConnectionEntry(std::list<Local::socket*>& list, Local::socket& socket)
        : m_list(list), m_entry(list.insert(list.end(), &socket)) {}
    ~ConnectionEntry() { m_list.erase(m_entry); }
    ConnectionEntry(const ConnectionEntry&) = delete;
    ConnectionEntry& operator=(const ConnectionEntry&) = delete;

private:
    std::list<Local::socket*>& m_list;
    std::list<Local::socket*>::iterator m_entry;
};

} // namespace

// One connection: one request line, one answer line, then it is closed.
asio::awaitable<void> ControlSocket::Impl::serve(std::shared_ptr<Impl> self, Local::socket socket) {
    const ConnectionEntry entry(self->connections, socket);
    asio::steady_timer deadline(socket.get_executor(), ControlSocket::kRequestTimeout);
    std::string line;
    auto request = co_await (
        asio::async_read_until(socket, asio::dynamic_buffer(line, ControlSocket::kMaxLineLength), '\n', kAwaitTuple) ||
        deadline.async_wait(kAwaitTuple));
    std::string answer;
    if (request.index() == 1) {
        spdlog::warn("control: a client sent no request within {} s", ControlSocket::kRequestTimeout.count());
        co_return;
    }
    const auto [error, length] = std::get<0>(request);
    if (error == asio::error::not_found) {
        answer = "error the request is longer than " + std::to_string(ControlSocket::kMaxLineLength) + " bytes";
    } else if (error) {
        co_return; // closed before a whole line, or stopped
    } else {
        answer = self->answer(std::string_view(line).substr(0, length - 1));
    }
    answer += '\n';
    co_await (asio::async_write(socket, asio::buffer(answer), kAwaitTuple) || deadline.async_wait(kAwaitTuple));
}

asio::awaitable<void> ControlSocket::Impl::acceptLoop(std::shared_ptr<Impl> self) {
    asio::steady_timer pause(self->io);
    for (;;) {
        auto [error, socket] = co_await self->acceptor.async_accept(kAwaitTuple);
        if (!self->acceptor.is_open())
            co_return;
        if (error) {
            // Out of descriptors, for example: wait a little rather than spin.
            spdlog::warn("control: accept failed: {}", error.message());
            pause.expires_after(std::chrono::milliseconds(100));
            co_await pause.async_wait(kAwaitTuple);
            continue;
        }
        asio::co_spawn(self->io, serve(self, std::move(socket)), asio::detached);
    }
}

std::string ControlSocket::Impl::answer(std::string_view request) {
    if (!request.empty() && request.back() == '\r')
        request.remove_suffix(1);
    if (!request.starts_with(kAnnounce))
        return "error unknown request; the server takes \"announce <text>\"";
    std::string text(request.substr(kAnnounce.size()));
    if (text.empty())
        return "error the announcement is empty";
    spdlog::info("control: announcement of {} bytes", text.size());
    onAnnounce(std::move(text));
    return "ok";
}

ControlSocket::ControlSocket(asio::io_context& io, std::string path, AnnounceHandler onAnnounce)
    : m_impl(std::make_shared<Impl>(io, std::move(path), std::move(onAnnounce))) {}

ControlSocket::~ControlSocket() {
    stop();
}

bool ControlSocket::start() {
    const std::string& path = m_impl->path;
    if (!fitsSocketPath(path)) {
        spdlog::error("control: the socket path must be 1 to {} bytes long: '{}'", sizeof(sockaddr_un::sun_path) - 1,
                      path);
        return false;
    }
    const Local::endpoint endpoint(path);
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode)) {
            spdlog::error("control: {} exists and is not a socket; not replacing it", path);
            return false;
        }
        // A socket file that nobody answers on is left from a server that
        // is gone; one that answers belongs to a server still running.
        Local::socket probe(m_impl->io);
        boost::system::error_code probeError;
        probe.connect(endpoint, probeError);
        if (!probeError) {
            spdlog::error("control: another server is running on {}", path);
            return false;
        }
        ::unlink(path.c_str());
    }
    auto& acceptor = m_impl->acceptor;
    boost::system::error_code error;
    acceptor.open(endpoint.protocol(), error);
    if (!error)
        acceptor.bind(endpoint, error);
    // Owner only, and before listen: until then no client can connect.
    if (!error && ::chmod(path.c_str(), 0600) != 0)
        error.assign(errno, boost::system::system_category());
    if (!error && ::lstat(path.c_str(), &status) == 0)
        m_impl->boundFile = status.st_ino;
    if (!error)
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        spdlog::error("control: cannot listen on {}: {}", path, error.message());
        stop();
        return false;
    }
    spdlog::info("control: listening on {}", path);
    asio::co_spawn(m_impl->io, Impl::acceptLoop(m_impl), asio::detached);
    return true;
}

void ControlSocket::stop() {
    boost::system::error_code ignored;
    m_impl->acceptor.close(ignored);
    for (Local::socket* socket : m_impl->connections)
        socket->close(ignored);
    struct stat status {};
    if (m_impl->boundFile && ::lstat(m_impl->path.c_str(), &status) == 0 && status.st_ino == *m_impl->boundFile)
        ::unlink(m_impl->path.c_str());
    m_impl->boundFile.reset();
}

namespace {

asio::awaitable<void> exchange(const std::string& path, const std::string& line, std::string& answer,
                               std::optional<ControlSocket::SendResult>& result) {
    using SendResult = ControlSocket::SendResult;
    Local::socket socket(co_await asio::this_coro::executor);
    auto [connectError] = co_await socket.async_connect(Local::endpoint(path), kAwaitTuple);
    if (connectError) {
        const bool absent = connectError == asio::error::connection_refused ||
                            connectError == boost::system::errc::no_such_file_or_directory;
        answer = "cannot reach " + path + ": " + connectError.message();
        result = absent ? SendResult::NoServer : SendResult::Failed;
        co_return;
    }
    const std::string request = line + '\n';
    auto [writeError, written] = co_await asio::async_write(socket, asio::buffer(request), kAwaitTuple);
    std::string reply;
    auto [readError, length] = co_await asio::async_read_until(
        socket, asio::dynamic_buffer(reply, ControlSocket::kMaxLineLength), '\n', kAwaitTuple);
    if (writeError || readError) {
        answer = "the server closed the connection without an answer: " +
                 (writeError ? writeError : readError).message();
        result = SendResult::Failed;
        co_return;
    }
    answer = reply.substr(0, length - 1);
    result = SendResult::Answered;
}

} // namespace

ControlSocket::SendResult ControlSocket::send(const std::string& path, const std::string& line, std::string& answer,
                                              std::chrono::milliseconds timeout) {
    if (!fitsSocketPath(path)) {
        answer = "the control socket path must be 1 to " + std::to_string(sizeof(sockaddr_un::sun_path) - 1) +
                 " bytes long";
        return SendResult::Failed;
    }
    // Declared before the context, so that the exchange, destroyed with the
    // context when it did not finish in time, never outlives them.
    std::optional<SendResult> result;
    asio::io_context io;
    asio::co_spawn(io, exchange(path, line, answer, result), asio::detached);
    io.run_for(timeout);
    if (!result) {
        answer = "the server did not answer within " + std::to_string(timeout.count()) + " ms";
        return SendResult::Failed;
    }
    return *result;
}

} // namespace vp::server
