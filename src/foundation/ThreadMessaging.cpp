#include "foundation/ThreadMessaging.h"

namespace vp::threadlib {

namespace {

void releaseQueue(SenderQueue& queue) {
    while (ThreadRecord* sender = queue.takeFirst()) sender->wake.release();
}

bool isBlocked(uint32_t state) {
    return state == ThreadLib::kStateSending || state == ThreadLib::kStateReceiving ||
           state == ThreadLib::kStateAwaitingReply;
}

void copyWords(const ThreadMessage& from, ThreadMessage& to) {
    to.word1 = from.word1;
    to.word2 = from.word2;
    to.word3 = from.word3;
}

} // namespace

void releaseSenders(ThreadRecord& record) {
    releaseQueue(record.pending);
    releaseQueue(record.unanswered);
}

void wakeIfBlocked(ThreadRecord& record) {
    if (isBlocked(record.state)) record.wake.release();
}

uint32_t sendMessage(ThreadTable& table, uint32_t targetId, ThreadMessage& message) {
    GlobalGuard guard(table);
    message.word1 = currentThreadId();
    ThreadRecord* self = findRecord(table, currentThreadId());
    ThreadRecord* target = findRecord(table, targetId);
    // A thread sending to itself would wait for ever.
    if (!self || !target || target == self || target->state == ThreadLib::kStateEnded || target->cancelled ||
        self->cancelled) {
        return 0;
    }
    self->buffer = &message;
    self->sendTarget = targetId;
    self->answered = false;
    // A receiving target whose buffer lock is already taken has been filled by
    // another sender and is about to wake: this one queues.
    if (target->state == ThreadLib::kStateReceiving && target->buffer &&
        target->buffer->bufferLock.waitTimed(0) == 1) {
        copyWords(message, *target->buffer);
        target->unanswered.append(*self);
        target->wake.release();
        self->state = ThreadLib::kStateAwaitingReply;
    } else {
        target->pending.append(*self);
        self->state = ThreadLib::kStateSending;
    }
    guard.unlock();
    self->wake.wait();
    guard.lock();
    self->wake.waitTimed(0);
    // Woken by a kill of this thread: still queued on the target.
    if (self->queue) self->queue->remove(*self);
    const uint32_t result = (self->cancelled && !self->answered) ? 0 : message.word1;
    self->state = ThreadLib::kStateRunning;
    self->sendTarget = 0;
    self->buffer = nullptr;
    self->answered = false;
    return result;
}

uint32_t receiveMessage(ThreadTable& table, ThreadMessage& message, bool timed, uint32_t milliseconds) {
    GlobalGuard guard(table);
    ThreadRecord* self = findRecord(table, currentThreadId());
    if (!self || self->cancelled) return 0;
    message.word1 = 0;
    message.word2 = 0;
    message.word3 = 0;

    if (ThreadRecord* sender = self->pending.takeFirst()) {
        if (sender->state != ThreadLib::kStateSending || !sender->buffer) {
            sender->wake.release();
            return 0;
        }
        copyWords(*sender->buffer, message);
        self->unanswered.append(*sender);
        sender->state = ThreadLib::kStateAwaitingReply;
        return message.word1;
    }

    self->buffer = &message;
    self->state = ThreadLib::kStateReceiving;
    message.bufferLock.release();
    guard.unlock();
    if (timed) {
        self->wake.waitTimed(milliseconds);
    } else {
        self->wake.wait();
    }
    guard.lock();
    // Every release of the wake semaphore happens under the global lock while
    // the thread is blocked; a second one (a delivery and a kill) or one that
    // came after a time-out must not be left for the next wait.
    self->wake.waitTimed(0);
    // Closing the buffer again tells whether a sender filled it: a sender
    // takes the lock before it writes.
    const bool delivered = message.bufferLock.waitTimed(0) == 0;
    self->state = ThreadLib::kStateRunning;
    self->buffer = nullptr;
    // A sender that filled the buffer before a kill was released by the kill.
    if (self->cancelled || !delivered) return 0;
    return message.word1;
}

uint32_t replyMessage(ThreadTable& table, uint32_t senderId, uint32_t receiverId, ThreadMessage& message) {
    GlobalGuard guard(table);
    message.word1 = currentThreadId();
    ThreadRecord* self = findRecord(table, currentThreadId());
    // A cancelled thread's answer would race with the one its canceller gives
    // (a stopping service answers its killed workers' requesters with 0).
    if (!self || self->cancelled) return 0;
    ThreadRecord* sender = findRecord(table, senderId);
    ThreadRecord* receiver = findRecord(table, receiverId);
    if (!sender || !receiver || sender->sendTarget != receiverId) return 0;
    if (!receiver->unanswered.remove(*sender)) return 0;
    if (sender->state != ThreadLib::kStateAwaitingReply || !sender->buffer) return 0;
    copyWords(message, *sender->buffer);
    sender->answered = true;
    sender->wake.release();
    return 1;
}

} // namespace vp::threadlib
