#pragma once
// One relay between a sender and the receiver it asked for. The sender's
// conversation waits for the receiver's answer; the receiver's conversation
// hands its connection over; then the two are joined and bytes are copied
// both ways as they come, through one bounded buffer per direction (a pipe
// the kernel moves them through where it can), until either side closes,
// which closes the other.
//
// Each connection lives on its own strand and is only touched there: the
// sender's conversation reads the sender and writes what came on the
// receiver's strand, the receiver's conversation does the same the other
// way. Everything else one side tells the other is posted to its strand.

#include "FramedSocket.h"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace vp::server {

class RelayJoin : public std::enable_shared_from_this<RelayJoin> {
public:
    // Where the kernel cannot copy between the two sockets: what one
    // direction copies at most before it writes, and so the most the relay
    // holds per direction. Otherwise a pipe of the kernel's holds the bytes
    // in between (RelayJoin.cpp).
    static constexpr std::size_t kChunkBytes = 256 * 1024;

    explicit RelayJoin(std::shared_ptr<FramedSocket> sender);

    // ---- On the sender's strand ----
    enum class Outcome {
        Answered,   // the receiver's connection is here
        Refused,    // the receiver could not be reached or could not start
        Expired,    // the limit passed first
        SenderLeft, // the sender closed, or spoke before its final reply
    };
    // Waits for the receiver. The sender is read meanwhile: it says nothing
    // until it has its final reply, so anything read ends the wait.
    boost::asio::awaitable<Outcome> awaitAnswer(Clock::duration limit);
    // After the sender's final YES: lets the receiver's side go on and
    // copies from the sender to the receiver until the relay ends. A relay
    // over which nothing moved for idleLimit is ended.
    boost::asio::awaitable<void> carryFromSender(Clock::duration idleLimit);

    // ---- On the receiver's strand ----
    // Hands the receiver's connection to the waiting sender.
    void answer(std::shared_ptr<FramedSocket> receiver);
    // True once the sender has had its final YES; false when the relay
    // ended first or nothing was heard within limit.
    boost::asio::awaitable<bool> awaitStart(Clock::duration limit);
    // Copies from the receiver to the sender until the relay ends.
    boost::asio::awaitable<void> carryFromReceiver();

    // ---- From any thread ----
    // The receiver could not be reached or could not start; ignored once it
    // has answered.
    void refuse();
    // The connection that took the ticket to the receiver's peer port; the
    // receiver keeps it open while it relays, and the end closes it.
    void holdNotice(std::shared_ptr<FramedSocket> notice);
    // Ends the relay: the receiver's connection and the notice close, and
    // the sender's once the two were joined. Only the first call counts.
    void end();
    // True when the relay was ended for moving nothing for too long.
    bool endedSilent() const { return m_silent; }

private:
    boost::asio::awaitable<void> carry(std::shared_ptr<FramedSocket> from, std::shared_ptr<FramedSocket> to);
    // Through a buffer of this process, for sockets the kernel cannot copy
    // between.
    boost::asio::awaitable<void> copy(std::shared_ptr<FramedSocket> from, std::shared_ptr<FramedSocket> to);
    boost::asio::awaitable<void> watchIdle(Clock::duration limit);
    // Tells the receiver's side whether to go on.
    void grantStart(bool go);

    const std::shared_ptr<FramedSocket> m_sender;

    // On the sender's strand.
    boost::asio::steady_timer m_answerTimer;
    boost::asio::steady_timer m_idleTimer;
    std::shared_ptr<FramedSocket> m_answeredBy;
    bool m_refused = false;

    // On the receiver's strand.
    std::optional<boost::asio::steady_timer> m_startTimer;
    bool m_startDecided = false;
    bool m_started = false;

    // From any thread.
    std::mutex m_mutex;
    std::shared_ptr<FramedSocket> m_receiver; // once answered
    std::shared_ptr<FramedSocket> m_notice;
    std::atomic<bool> m_joined{false};
    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_silent{false};
    std::atomic<uint64_t> m_moved{0};
};

} // namespace vp::server
