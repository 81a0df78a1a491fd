#pragma once
// The synchronous messages of the thread library: a sender blocks until the
// receiver has taken its message and answered it, or has ended, or one of
// the two was cancelled. Inside the thread library only; ThreadLib's send,
// receive and reply are these calls on the current table.

#include "foundation/ThreadTable.h"

#include <cstdint>

namespace vp::threadlib {

// See ThreadLib::send.
uint32_t sendMessage(ThreadTable& table, uint32_t targetId, ThreadMessage& message);
// See ThreadLib::receive; timed gives up after milliseconds.
uint32_t receiveMessage(ThreadTable& table, ThreadMessage& message, bool timed, uint32_t milliseconds);
// See ThreadLib::replyFrom.
uint32_t replyMessage(ThreadTable& table, uint32_t senderId, uint32_t receiverId, ThreadMessage& message);

// Lets every sender waiting on record (received or not) return from send
// without an answer: each gets its own id back and its message unchanged.
// The caller holds the global lock.
void releaseSenders(ThreadRecord& record);
// Wakes record from a blocking send or receive. The caller holds the global lock.
void wakeIfBlocked(ThreadRecord& record);

} // namespace vp::threadlib
