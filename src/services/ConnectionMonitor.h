#pragma once
// The watch over open connections (in practice the logged-in server
// connection). Each watched socket gets a one-byte keep-alive every S
// seconds and is checked every R seconds for the byte the peer sends back
// (the interval it expects); a peer that stays silent too often, or whose
// connection is found closed, has its watch dropped, and the watch's
// observers are told once, with the socket as argument.
//
// Three threads do the work: the liveness thread looks for closed
// connections every second, the send thread sends the keep-alive bytes and
// the receive thread reads the answers. They never drop a watch themselves:
// they post code 103 to the service, whose handlers change the lists alone.

#include "foundation/SerialService.h"
#include "foundation/Semaphore.h"
#include "foundation/Subject.h"
#include "foundation/TcpSocket.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <vector>

namespace vp {

// The timing of one watch, in seconds: E the interval the monitor expects
// between answers, R the delay until the next receive check, S the interval
// between keep-alive bytes (the byte sent is S itself), and the number of
// receive checks that may still find nothing.
struct WatchTiming {
    static constexpr uint32_t kFullBudget = 5;
    uint32_t expected = 60;
    uint32_t receiveDelay = 30;
    uint32_t sendInterval = 60;
    uint32_t missBudget = kFullBudget;

    bool operator==(const WatchTiming&) const = default;
};

// The timing after a receive check read the byte announced: timing holds
// the budget already lowered for this check, pause is the keep-alive pause.
WatchTiming adjustTiming(WatchTiming timing, uint8_t announced, uint32_t pause);

// The keep-alive pause for this many watches: 10 s per watch beyond the
// first, on top of 40 s, at most 240 s.
uint32_t keepAlivePause(uint32_t watchCount);

// Timer entries ordered by when they fall due, each delay counted from the
// entry before it, so only the head ever counts down.
template <typename Item>
class DeltaList {
public:
    struct Entry {
        Item item;
        uint32_t delay;
    };

    // Places item after every entry due earlier and before those due at the
    // same time or later.
    void insert(Item item, uint32_t delay) {
        auto next = m_entries.begin();
        while (next != m_entries.end() && delay > next->delay) {
            delay -= next->delay;
            ++next;
        }
        if (next != m_entries.end()) next->delay -= delay;
        m_entries.insert(next, Entry{item, delay});
    }
    // Removes item's entry, handing its delay on to the next: 1 when found.
    uint32_t remove(Item item) {
        for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry) {
            if (entry->item != item) continue;
            const uint32_t delay = entry->delay;
            const auto next = m_entries.erase(entry);
            if (next != m_entries.end()) next->delay += delay;
            return 1;
        }
        return 0;
    }
    // The head when its delay has run out: takes it off and gives 1.
    uint32_t takeDue(Item& item) {
        if (m_entries.empty() || m_entries.front().delay != 0) return 0;
        item = m_entries.front().item;
        m_entries.pop_front();
        return 1;
    }
    // One second has passed. Entries due already (delay 0 at the head, such
    // as a watch added meanwhile) let it count for the first one still waiting.
    void tick() {
        for (Entry& entry : m_entries) {
            if (entry.delay == 0) continue;
            --entry.delay;
            return;
        }
    }
    void clear() { m_entries.clear(); }
    const std::list<Entry>& entries() const { return m_entries; }

private:
    std::list<Entry> m_entries;
};

// One watched connection; its observers are told when it is dropped.
class ConnectionWatch : public Subject {
public:
    ConnectionWatch(TcpSocket* socket, bool owned, uint64_t serial)
        : m_socket(socket), m_owned(owned), m_serial(serial) {}

    TcpSocket* socket() const { return m_socket; }
    // Whether the monitor closes and frees the socket when the watch goes.
    bool owned() const { return m_owned; }
    // Names the watch in a drop request: unlike its address, never reused.
    uint64_t serial() const { return m_serial; }

    // Written and read by the receive thread alone.
    WatchTiming timing;
    // The receive thread's S as the send thread reads it.
    std::atomic<uint32_t> sendInterval{60};

private:
    TcpSocket* m_socket;
    bool m_owned;
    uint64_t m_serial;
};

class ConnectionMonitor : public SerialService {
public:
    // Request codes: the interface between window code and the monitor.
    static constexpr std::uintptr_t kWatch = 100;         // socket: watch it (not owned)
    static constexpr std::uintptr_t kStopWatching = 101;  // socket: stop watching, observers told
    static constexpr std::uintptr_t kWatchOwned = 102;    // socket (made with new): watch and own it
    static constexpr std::uintptr_t kDropWatch = 103;     // the watch's serial: drop it
    static constexpr std::uintptr_t kAttach = 104;        // observer, socket
    static constexpr std::uintptr_t kDetach = 105;        // observer, socket

    static constexpr uint32_t kSecondMilliseconds = 1000;

    // secondMilliseconds is how long the monitor's second lasts: every
    // interval above counts in these seconds. Tests shorten it to run fast;
    // the client always uses the real second.
    explicit ConnectionMonitor(uint32_t secondMilliseconds = kSecondMilliseconds);
    ~ConnectionMonitor() override;

protected:
    uint32_t handleRequest(uint32_t sender, uint32_t argumentCount, const std::uintptr_t* args) override;
    uint32_t onStart() override;
    uint32_t onStop() override;

private:
    enum ThreadIndex { kLiveness, kSend, kReceive, kThreadCount };

    uint32_t addWatch(TcpSocket* socket, bool owned);
    // The watch of socket, or of serial, or null.
    ConnectionWatch* findWatch(const TcpSocket* socket) const;
    ConnectionWatch* findSerial(uint64_t serial) const;
    // Takes watch out of the lists, tells its observers and frees it (and
    // its socket when owned). On the service thread only.
    void dropWatch(ConnectionWatch* watch);

    // The thread bodies.
    void livenessLoop();
    void sendLoop();
    void receiveLoop();
    // Sleeps one monitor second on the thread's wake semaphore: true when the
    // whole second passed, false when woken early (or stopping).
    bool sleepSecond(ThreadIndex thread);
    // Sleeps while there is no watch: false once stopping.
    bool awaitWatches(ThreadIndex thread);
    // Posts code 103 for a watch from a monitor thread that holds no unit.
    void postDrop(uint64_t serial);
    bool stopping(ThreadIndex thread) const;
    // Ends the threads made so far and waits for them, answering with 0 any
    // request that arrives meanwhile (a monitor thread's post that came in
    // just before the stop would otherwise wait for ever).
    void endThreads();

    const uint32_t m_secondMilliseconds;
    std::atomic<bool> m_stopping{false};
    std::atomic<uint32_t> m_pause{40};
    // Readers take one unit, writers all three.
    Semaphore m_units{3, 3};
    DeltaList<ConnectionWatch*> m_sendQueue;
    DeltaList<ConnectionWatch*> m_receiveQueue;
    std::vector<std::unique_ptr<ConnectionWatch>> m_watches;
    std::atomic<uint32_t> m_watchCount{0};
    uint64_t m_nextSerial = 1;
    uint32_t m_threads[kThreadCount] = {};
    Semaphore m_wake[kThreadCount];
    // Set by ThreadLib's cancel action of each thread.
    std::atomic<bool> m_cancelled[kThreadCount] = {};
};

} // namespace vp
