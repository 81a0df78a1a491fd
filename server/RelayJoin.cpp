#include "RelayJoin.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <array>
#include <span>
#include <utility>
#include <vector>

namespace vp::server {

namespace asio = boost::asio;

namespace {

// A timer's wait that ends the same way whether it expired or was
// cancelled; the caller looks at what changed.
asio::awaitable<void> waitOn(asio::steady_timer& timer) {
    boost::system::error_code ignored;
    co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
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

// What comes is written on before more is read, so a side that does not
// read holds up the side that sends: one buffer per direction, whatever
// the length of what goes through.
asio::awaitable<void> RelayJoin::carry(std::shared_ptr<FramedSocket> from, std::shared_ptr<FramedSocket> to) {
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
    end();
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
