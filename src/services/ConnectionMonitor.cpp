#include "services/ConnectionMonitor.h"

#include "foundation/ThreadLib.h"

#include <algorithm>
#include <new>
#include <utility>

namespace vp {

namespace {

constexpr uint32_t kMinimumExpected = 24;
constexpr uint32_t kMaximumExpected = 120;
constexpr uint32_t kMaximumPause = 240;
// A keep-alive byte that finds no room in this time (real seconds) counts
// as a failed send: the peer has stopped reading, and a send blocked for
// good would hold the send thread, and with it the monitor's stop.
constexpr uint32_t kSendWaitSeconds = 5;
// How often the stop looks whether its threads have ended meanwhile.
constexpr uint32_t kEndPollMilliseconds = 10;

// One unit of the readers/writer semaphore: readers run side by side.
class ReaderUnit {
public:
    explicit ReaderUnit(Semaphore& units) : m_units(units) { m_units.wait(); }
    ~ReaderUnit() { m_units.release(); }
    ReaderUnit(const ReaderUnit&) = delete;
    ReaderUnit& operator=(const ReaderUnit&) = delete;

private:
    Semaphore& m_units;
};

// All three units: the writer runs alone. Only the service thread writes,
// so two writers never hold part of the units each.
class WriterUnits {
public:
    explicit WriterUnits(Semaphore& units) : m_units(units) {
        for (int unit = 0; unit < 3; ++unit) m_units.wait();
    }
    ~WriterUnits() {
        for (int unit = 0; unit < 3; ++unit) m_units.release();
    }
    WriterUnits(const WriterUnits&) = delete;
    WriterUnits& operator=(const WriterUnits&) = delete;

private:
    Semaphore& m_units;
};

uint32_t ceilHalf(uint32_t value) { return (value + 1) / 2; }

uint32_t ceilTenth(uint32_t value) { return (value + 9) / 10; }

} // namespace

uint32_t keepAlivePause(uint32_t watchCount) {
    const uint32_t beyondFirst = watchCount > 0 ? watchCount - 1 : 0;
    if (beyondFirst >= kMaximumPause / 10) return kMaximumPause;
    return std::min((beyondFirst + 4) * 10, kMaximumPause);
}

// Worked in half seconds so that every step is exact: h = E / 2 and
// r = b - h become 2h = E and 2r = 2b - E.
WatchTiming adjustTiming(WatchTiming timing, uint8_t announced, uint32_t pause) {
    const uint32_t misses = WatchTiming::kFullBudget - std::min(timing.missBudget, WatchTiming::kFullBudget);
    timing.expected = std::clamp(ceilHalf(timing.expected * misses), kMinimumExpected, kMaximumExpected);

    const int32_t twiceLeft = 2 * static_cast<int32_t>(announced) - static_cast<int32_t>(timing.expected);
    if (twiceLeft >= 0) {
        timing.receiveDelay = ceilHalf(static_cast<uint32_t>(twiceLeft));
        timing.missBudget = WatchTiming::kFullBudget;
    } else {
        const auto twiceShort = static_cast<uint32_t>(-twiceLeft);
        const uint32_t halves = (twiceShort + timing.expected - 1) / timing.expected;
        timing.receiveDelay = (halves * timing.expected - twiceShort) / 2;
        timing.missBudget = WatchTiming::kFullBudget - std::min(halves, WatchTiming::kFullBudget);
    }

    // S moves a tenth of the way towards the pause, but not below what the
    // peer announced unless it announced S itself.
    const uint32_t before = timing.sendInterval;
    if (pause < before) {
        timing.sendInterval = before - ceilTenth(before - pause);
    } else {
        timing.sendInterval = before + ceilTenth(pause - before);
    }
    if (before != announced && timing.sendInterval < announced) timing.sendInterval = announced;
    return timing;
}

ConnectionMonitor::ConnectionMonitor(uint32_t secondMilliseconds)
    : m_secondMilliseconds(std::max<uint32_t>(secondMilliseconds, 1)) {}

ConnectionMonitor::~ConnectionMonitor() { stop(); }

uint32_t ConnectionMonitor::onStart() {
    m_stopping = false;
    m_pause = keepAlivePause(0);
    using Loop = void (ConnectionMonitor::*)();
    const Loop loops[kThreadCount] = {&ConnectionMonitor::livenessLoop, &ConnectionMonitor::sendLoop,
                                      &ConnectionMonitor::receiveLoop};
    bool made = true;
    for (int thread = 0; thread < kThreadCount; ++thread) {
        m_cancelled[thread] = false;
        const Loop loop = loops[thread];
        m_threads[thread] = ThreadLib::createThread([this, thread, loop]() -> uint32_t {
            // ThreadLib's shutdown ends the thread the way the stop does.
            const ScopedCancelAction cancel([this, thread] {
                m_cancelled[thread] = true;
                m_wake[thread].release();
            });
            (this->*loop)();
            return 0;
        });
        made = made && m_threads[thread] != 0;
    }
    if (!made) {
        endThreads();
        return 0;
    }
    for (const uint32_t thread : m_threads) ThreadLib::resume(thread);
    return 1;
}

uint32_t ConnectionMonitor::onStop() {
    endThreads();
    // The threads are gone, so nothing reads the lists any more.
    while (!m_watches.empty()) {
        ConnectionWatch* watch = m_watches.front().get();
        if (!watch->owned()) {
            watch->socket()->Close();
            watch->socket()->Create();
        }
        dropWatch(watch);
    }
    m_sendQueue.clear();
    m_receiveQueue.clear();
    return 1;
}

void ConnectionMonitor::endThreads() {
    m_stopping = true;
    for (Semaphore& wake : m_wake) wake.release();
    for (const uint32_t thread : m_threads) {
        if (thread != 0 && ThreadLib::stateOf(thread) == ThreadLib::kStateCreated) ThreadLib::kill(thread);
    }
    const uint32_t self = ThreadLib::currentId();
    for (uint32_t& thread : m_threads) {
        while (thread != 0 && ThreadLib::stateOf(thread) != ThreadLib::kStateEnded) {
            ThreadMessage message;
            if (const uint32_t sender = ThreadLib::receiveTimed(message, kEndPollMilliseconds)) {
                answerFrom(sender, self, 0);
            }
        }
        thread = 0;
    }
}

uint32_t ConnectionMonitor::handleRequest(uint32_t, uint32_t argumentCount, const std::uintptr_t* args) {
    if (argumentCount < 2) return 0;
    switch (args[0]) {
    case kWatch: return addWatch(reinterpret_cast<TcpSocket*>(args[1]), false);
    case kWatchOwned: return addWatch(reinterpret_cast<TcpSocket*>(args[1]), true);
    case kStopWatching: {
        ConnectionWatch* watch = findWatch(reinterpret_cast<TcpSocket*>(args[1]));
        if (!watch || watch->owned()) return 0;
        dropWatch(watch);
        return 1;
    }
    case kDropWatch: {
        // A thread's report may come after the watch went another way.
        ConnectionWatch* watch = findSerial(args[1]);
        if (!watch) return 0;
        dropWatch(watch);
        return 1;
    }
    case kAttach:
    case kDetach: {
        if (argumentCount < 3) return 0;
        auto* observer = reinterpret_cast<Observer*>(args[1]);
        ConnectionWatch* watch = findWatch(reinterpret_cast<TcpSocket*>(args[2]));
        if (!watch) return 0;
        return args[0] == kAttach ? watch->attach(observer) : watch->detach(observer);
    }
    default: return 0;
    }
}

uint32_t ConnectionMonitor::addWatch(TcpSocket* socket, bool owned) {
    // A second watch of one socket would send twice the keep-alives and
    // tell the observers twice.
    if (!socket || findWatch(socket)) return 0;
    try {
        auto watch = std::make_unique<ConnectionWatch>(socket, owned, m_nextSerial++);
        ConnectionWatch* added = watch.get();
        WriterUnits units(m_units);
        m_watches.reserve(m_watches.size() + 1);
        m_sendQueue.insert(added, 0);
        try {
            m_receiveQueue.insert(added, added->timing.receiveDelay);
        } catch (const std::bad_alloc&) {
            m_sendQueue.remove(added);
            throw;
        }
        m_watches.push_back(std::move(watch));
        m_watchCount = static_cast<uint32_t>(m_watches.size());
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (m_watchCount == 1) {
        for (Semaphore& wake : m_wake) wake.release();
    }
    m_pause = keepAlivePause(m_watchCount);
    return 1;
}

ConnectionWatch* ConnectionMonitor::findWatch(const TcpSocket* socket) const {
    for (const auto& watch : m_watches) {
        if (watch->socket() == socket) return watch.get();
    }
    return nullptr;
}

ConnectionWatch* ConnectionMonitor::findSerial(uint64_t serial) const {
    for (const auto& watch : m_watches) {
        if (watch->serial() == serial) return watch.get();
    }
    return nullptr;
}

void ConnectionMonitor::dropWatch(ConnectionWatch* watch) {
    std::unique_ptr<ConnectionWatch> dropped;
    {
        WriterUnits units(m_units);
        m_sendQueue.remove(watch);
        m_receiveQueue.remove(watch);
        const auto found = std::find_if(m_watches.begin(), m_watches.end(),
                                        [watch](const auto& kept) { return kept.get() == watch; });
        dropped = std::move(*found);
        m_watches.erase(found);
        m_watchCount = static_cast<uint32_t>(m_watches.size());
    }
    // The observers hear of it while the socket they are given still exists.
    TcpSocket* socket = dropped->socket();
    dropped->setChanged();
    dropped->notify(reinterpret_cast<std::uintptr_t>(socket));
    if (dropped->owned()) {
        socket->Close();
        delete socket;
    }
}

bool ConnectionMonitor::stopping(ThreadIndex thread) const { return m_stopping || m_cancelled[thread]; }

bool ConnectionMonitor::sleepSecond(ThreadIndex thread) {
    if (stopping(thread)) return false;
    // Woken early (a first watch, the stop): not a whole second.
    return m_wake[thread].waitTimed(m_secondMilliseconds) == 0 && !stopping(thread);
}

bool ConnectionMonitor::awaitWatches(ThreadIndex thread) {
    while (!stopping(thread)) {
        if (m_watchCount > 0) return true;
        m_wake[thread].wait();
    }
    return false;
}

void ConnectionMonitor::postDrop(uint64_t serial) {
    // The post waits for the service thread, whose handler may need all
    // three units: the caller holds none. A post refused by a stopping
    // service is fine, the stop drops every watch itself.
    post(2, kDropWatch, static_cast<std::uintptr_t>(serial));
}

void ConnectionMonitor::livenessLoop() {
    std::vector<uint64_t> dead;
    while (awaitWatches(kLiveness)) {
        dead.clear();
        {
            ReaderUnit unit(m_units);
            for (const auto& watch : m_watches) {
                // Readable with nothing to peek at: the peer has closed.
                if (watch->socket()->PeekAlive() == 0) dead.push_back(watch->serial());
            }
        }
        for (const uint64_t serial : dead) postDrop(serial);
        sleepSecond(kLiveness);
    }
}

void ConnectionMonitor::sendLoop() {
    while (awaitWatches(kSend)) {
        for (;;) {
            uint64_t failed = 0;
            {
                ReaderUnit unit(m_units);
                ConnectionWatch* watch = nullptr;
                if (!m_sendQueue.takeDue(watch)) break;
                const auto interval = static_cast<uint8_t>(watch->sendInterval.load());
                if (watch->socket()->SendTimed(&interval, 1, kSendWaitSeconds) == 1) {
                    // Never due again at once, which would send without end.
                    m_sendQueue.insert(watch, std::max<uint32_t>(interval, 1));
                } else {
                    failed = watch->serial();
                }
            }
            if (failed != 0) postDrop(failed);
            if (stopping(kSend)) return;
        }
        if (sleepSecond(kSend)) {
            ReaderUnit unit(m_units);
            m_sendQueue.tick();
        }
    }
}

void ConnectionMonitor::receiveLoop() {
    while (awaitWatches(kReceive)) {
        for (;;) {
            uint64_t failed = 0;
            {
                ReaderUnit unit(m_units);
                ConnectionWatch* watch = nullptr;
                if (!m_receiveQueue.takeDue(watch)) break;
                WatchTiming timing = watch->timing;
                if (timing.missBudget > 0) --timing.missBudget;
                uint8_t announced = 0;
                TcpSocket& socket = *watch->socket();
                if (socket.PollByte(announced) == 1) {
                    timing = adjustTiming(timing, announced, m_pause);
                } else if (socket.LastError() == TcpSocket::ErrTimeout && timing.missBudget > 0) {
                    timing.receiveDelay = ceilHalf(timing.expected);
                } else {
                    failed = watch->serial();
                }
                if (failed == 0) {
                    watch->timing = timing;
                    watch->sendInterval = timing.sendInterval;
                    m_receiveQueue.insert(watch, timing.receiveDelay);
                }
            }
            if (failed != 0) postDrop(failed);
            if (stopping(kReceive)) return;
        }
        if (sleepSecond(kReceive)) {
            ReaderUnit unit(m_units);
            m_receiveQueue.tick();
        }
    }
}

} // namespace vp
