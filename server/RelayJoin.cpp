#include "RelayJoin.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <array>
#include <cerrno>
#include <csignal>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace vp::server {

namespace asio = boost::asio;

namespace {

// A timer's wait that ends the same way whether it expired or was
// cancelled; the caller looks at what changed.
asio::awaitable<void> waitOn(asio::steady_timer& timer) {
    boost::system::error_code ignored;
    co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
}

// The copy in the kernel: splice(2) moves the pages a socket received into
// a pipe, and from the pipe into the other socket, without bringing them
// into this process. The pipe is the direction's bounded buffer: while it
// is full nothing more is read from the source, so a receiver that does not
// read holds the sender up.
constexpr unsigned kSpliceFlags = SPLICE_F_MOVE | SPLICE_F_NONBLOCK;
// What one direction's pipe is asked to hold, and the most one call moves.
// A larger pipe was no faster, and the system's allowance for pipes is
// counted per user.
constexpr int kPipeBytes = 256 * 1024;
// The system's default size; a pipe smaller than this is not used.
constexpr int kLeastPipeBytes = 64 * 1024;

struct Spliced {
    ssize_t count;
    int error;
};

Spliced spliceSome(int in, int out) {
    const ssize_t count = ::splice(in, nullptr, out, nullptr, kPipeBytes, kSpliceFlags);
    return {count, count < 0 ? errno : 0};
}

// A socket the kernel cannot splice from says so at once, before anything
// moved.
bool spliceUnsupported(const Spliced& result) {
    return result.count < 0 && (result.error == EINVAL || result.error == ENOSYS);
}

// A splice into a socket whose peer has gone, or into a pipe whose reader
// has gone, raises SIGPIPE, as no MSG_NOSIGNAL reaches it; the call's
// EPIPE says the same. The process ignores the signal unless its owner set
// a handler of its own.
void ignoreBrokenPipes() {
    static const bool ignored = [] {
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) != 0) return false;
        return current.sa_handler != SIG_DFL || std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    }();
    (void)ignored;
}

// One direction's pipe. Each end is registered on the strand of the socket
// it faces: the write end is filled on the source's strand, the read end
// drained on the destination's. Either end closes with its descriptor.
struct Pipe {
    asio::posix::stream_descriptor readEnd;
    asio::posix::stream_descriptor writeEnd;
};

std::optional<Pipe> openPipe(const asio::any_io_executor& source, const asio::any_io_executor& destination) {
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return std::nullopt;
    Pipe pipe{asio::posix::stream_descriptor(destination), asio::posix::stream_descriptor(source)};
    boost::system::error_code error;
    pipe.readEnd.assign(ends[0], error);
    if (error) {
        ::close(ends[0]);
        ::close(ends[1]);
        return std::nullopt;
    }
    pipe.writeEnd.assign(ends[1], error);
    if (error) {
        ::close(ends[1]);
        return std::nullopt;
    }
    // A user past the system's allowance for pipes gets pipes of two pages,
    // which move less than the buffered copy does per call.
    (void)::fcntl(ends[1], F_SETPIPE_SZ, kPipeBytes);
    if (::fcntl(ends[1], F_GETPIPE_SZ) < kLeastPipeBytes) return std::nullopt;
    ignoreBrokenPipes();
    return pipe;
}

asio::awaitable<bool> awaitReady(asio::posix::stream_descriptor& end, asio::posix::stream_descriptor::wait_type wait) {
    boost::system::error_code error;
    co_await end.async_wait(wait, asio::redirect_error(asio::use_awaitable, error));
    co_return !error;
}

// On the source's strand: moves what the source sends into the pipe until
// the source ends or fails. The write end closes as this returns, which
// tells the drain that nothing more comes.
asio::awaitable<void> fill(std::shared_ptr<FramedSocket> from, asio::posix::stream_descriptor writeEnd,
                           std::atomic<uint64_t>& moved) {
    // A call that finds nothing to move leaves two causes: nothing to read,
    // or no room in the pipe. Once the source was seen readable it is the
    // pipe, so the waits take turns.
    bool sourceWaited = false;
    for (;;) {
        const Spliced result = spliceSome(from->nonBlockingHandle(), writeEnd.native_handle());
        if (result.count > 0) {
            moved.fetch_add(static_cast<uint64_t>(result.count), std::memory_order_relaxed);
            sourceWaited = false;
            continue;
        }
        if (result.count == 0) break;
        if (result.error == EINTR) continue;
        if (result.error != EAGAIN) break;
        bool ready = false;
        if (sourceWaited) ready = co_await awaitReady(writeEnd, asio::posix::stream_descriptor::wait_write);
        else ready = co_await from->awaitReady(asio::socket_base::wait_read);
        if (!ready) break;
        sourceWaited = !sourceWaited;
    }
}

// On the destination's strand: moves what the pipe holds into the
// destination until the pipe is empty and its write end closed, or the
// destination fails.
asio::awaitable<void> drain(std::shared_ptr<FramedSocket> to, asio::posix::stream_descriptor readEnd) {
    // As in fill: once the pipe was seen readable, a call that moves
    // nothing waits for room at the destination.
    bool pipeWaited = false;
    for (;;) {
        const Spliced result = spliceSome(readEnd.native_handle(), to->nonBlockingHandle());
        if (result.count > 0) {
            pipeWaited = false;
            continue;
        }
        if (result.count == 0) break;
        if (result.error == EINTR) continue;
        if (result.error != EAGAIN) break;
        bool ready = false;
        if (pipeWaited) ready = co_await to->awaitReady(asio::socket_base::wait_write);
        else ready = co_await awaitReady(readEnd, asio::posix::stream_descriptor::wait_read);
        if (!ready) break;
        pipeWaited = !pipeWaited;
    }
}

} // namespace

RelayJoin::RelayJoin(std::shared_ptr<FramedSocket> sender)
    : m_sender(std::move(sender)), m_answerTimer(m_sender->executor()), m_idleTimer(m_sender->executor()) {}

asio::awaitable<RelayJoin::Outcome> RelayJoin::awaitAnswer(Clock::duration limit) {
    using namespace asio::experimental::awaitable_operators;
    if (!m_answeredBy && !m_refused && !m_ended) {
        m_answerTimer.expires_after(limit);
        std::array<uint8_t, 1> stray{};
        // Whichever ends first cancels the other and waits for it, so the
        // sender's connection has no read left when this returns.
        auto either = waitOn(m_answerTimer) || m_sender->readSome(stray, kNoLimit);
        const auto first = co_await std::move(either);
        if (first.index() == 1) co_return Outcome::SenderLeft;
    }
    if (m_answeredBy && !m_ended) co_return Outcome::Answered;
    co_return m_refused ? Outcome::Refused : Outcome::Expired;
}

asio::awaitable<void> RelayJoin::carryFromSender(Clock::duration idleLimit) {
    m_joined = true;
    grantStart(true);
    asio::co_spawn(
        m_sender->executor(), [self = shared_from_this(), idleLimit] { return self->watchIdle(idleLimit); },
        asio::detached);
    co_await carry(m_sender, m_answeredBy);
}

void RelayJoin::answer(std::shared_ptr<FramedSocket> receiver) {
    m_startTimer.emplace(receiver->executor());
    {
        std::lock_guard lock(m_mutex);
        m_receiver = receiver;
    }
    // An end that came first saw no receiver to stop; this one is stopped
    // here instead.
    if (m_ended) {
        receiver->closeSoon();
        grantStart(false);
        return;
    }
    asio::post(m_sender->executor(), [self = shared_from_this(), receiver = std::move(receiver)]() mutable {
        self->m_answeredBy = std::move(receiver);
        self->m_answerTimer.cancel();
    });
}

asio::awaitable<bool> RelayJoin::awaitStart(Clock::duration limit) {
    if (!m_startDecided) {
        m_startTimer->expires_after(limit);
        co_await waitOn(*m_startTimer);
    }
    if (!m_started) end();
    co_return m_started;
}

asio::awaitable<void> RelayJoin::carryFromReceiver() {
    std::shared_ptr<FramedSocket> receiver;
    {
        std::lock_guard lock(m_mutex);
        receiver = m_receiver;
    }
    co_await carry(std::move(receiver), m_sender);
}

void RelayJoin::refuse() {
    asio::post(m_sender->executor(), [self = shared_from_this()] {
        if (self->m_answeredBy) return;
        self->m_refused = true;
        self->m_answerTimer.cancel();
    });
}

void RelayJoin::holdNotice(std::shared_ptr<FramedSocket> notice) {
    {
        std::lock_guard lock(m_mutex);
        m_notice = notice;
    }
    if (m_ended) notice->closeSoon();
}

void RelayJoin::end() {
    if (m_ended.exchange(true)) return;
    std::shared_ptr<FramedSocket> receiver;
    std::shared_ptr<FramedSocket> notice;
    {
        std::lock_guard lock(m_mutex);
        receiver = m_receiver;
        notice = m_notice;
    }
    // Before the join the sender's conversation goes on to refuse the
    // relay on its own connection.
    if (m_joined) m_sender->closeSoon();
    if (receiver) receiver->closeSoon();
    if (notice) notice->closeSoon();
    grantStart(false);
    asio::post(m_sender->executor(), [self = shared_from_this()] {
        self->m_answerTimer.cancel();
        self->m_idleTimer.cancel();
    });
}

void RelayJoin::grantStart(bool go) {
    std::shared_ptr<FramedSocket> receiver;
    {
        std::lock_guard lock(m_mutex);
        receiver = m_receiver;
    }
    if (!receiver) return;
    asio::post(receiver->executor(), [self = shared_from_this(), go] {
        if (self->m_startDecided) return;
        self->m_startDecided = true;
        self->m_started = go;
        self->m_startTimer->cancel();
    });
}

// Each direction is copied in the kernel where the sockets allow it, and
// otherwise through a buffer of this process. Either way the direction ends
// the relay when it ends.
asio::awaitable<void> RelayJoin::carry(std::shared_ptr<FramedSocket> from, std::shared_ptr<FramedSocket> to) {
    if (auto pipe = openPipe(from->executor(), to->executor())) {
        const Spliced first = spliceSome(from->nonBlockingHandle(), pipe->writeEnd.native_handle());
        if (!spliceUnsupported(first)) {
            if (first.count > 0) m_moved.fetch_add(static_cast<uint64_t>(first.count), std::memory_order_relaxed);
            // The drain runs on the destination's strand beside the fill;
            // the end it calls closes both sockets, which stops the fill
            // however it waits.
            auto draining = asio::co_spawn(
                to->executor(),
                [self = shared_from_this(), to, readEnd = std::move(pipe->readEnd)]() mutable -> asio::awaitable<void> {
                    co_await drain(std::move(to), std::move(readEnd));
                    self->end();
                },
                asio::use_awaitable);
            using namespace asio::experimental::awaitable_operators;
            co_await (fill(from, std::move(pipe->writeEnd), m_moved) && std::move(draining));
            co_return;
        }
    }
    co_await copy(std::move(from), std::move(to));
    end();
}

// What comes is written on before more is read, so a side that does not
// read holds up the side that sends: one buffer per direction, whatever
// the length of what goes through.
asio::awaitable<void> RelayJoin::copy(std::shared_ptr<FramedSocket> from, std::shared_ptr<FramedSocket> to) {
    std::vector<uint8_t> buffer(kChunkBytes);
    for (;;) {
        const std::size_t count = co_await from->readSome(buffer, kNoLimit);
        if (count == 0) break;
        m_moved.fetch_add(count, std::memory_order_relaxed);
        auto writing = asio::co_spawn(to->executor(), to->write(std::span<const uint8_t>(buffer.data(), count), kNoLimit),
                                      asio::use_awaitable);
        const bool written = co_await std::move(writing);
        if (!written) break;
    }
}

asio::awaitable<void> RelayJoin::watchIdle(Clock::duration limit) {
    uint64_t seen = m_moved.load(std::memory_order_relaxed);
    while (!m_ended) {
        m_idleTimer.expires_after(limit);
        co_await waitOn(m_idleTimer);
        if (m_ended) break;
        const uint64_t moved = m_moved.load(std::memory_order_relaxed);
        if (moved == seen) {
            m_silent = true;
            end();
            break;
        }
        seen = moved;
    }
}

} // namespace vp::server
