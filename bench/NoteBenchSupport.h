#pragma once
// The other side of the note benchmarks: a client core that receives notes
// on loopback as the shipped client does, the real NoteReceiver behind a
// listener, each connection served by HandleRequest on the listener's own
// thread. Arrived notes are shown on a desktop that keeps only the last
// one, so that no store grows from one note to the next.

#include "foundation/TcpSocket.h"
#include "notes/NoteRecord.h"
#include "notes/NoteStore.h"
#include "notes/NoteView.h"
#include "platform/MemoryRegistry.h"
#include "protocol/ClientProtocol.h"
#include "protocol/NoteReception.h"
#include "settings/AwayOptions.h"
#include "settings/GeneralOptions.h"
#include "settings/NoteOptions.h"
#include "settings/SoundOptions.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vp::bench {

class NoteReceiverPeer {
public:
    // userFolder and receiveFolder in the system's form.
    NoteReceiverPeer(const std::string& userFolder, const std::string& receiveFolder)
        : m_store(userFolder.c_str(), m_storePort, &m_noteOptions),
          m_receiver({nullptr, &m_general, &m_noteOptions, &m_away, &m_sounds, &m_desktop, &m_store,
                      receiveFolder.c_str(), NoteReceiver::kBlockTimeoutMilliseconds, nullptr}) {
        m_noteOptions.SetInt(NoteOptions::kShowOnArrival, 1);
        m_context.notes = &m_receiver;
        if (m_listener.Bind(0, "127.0.0.1") != 1 || m_listener.Listen() != 1) return;
        m_port = m_listener.LocalPort();
        m_thread = std::thread([this] {
            for (;;) {
                TcpSocket connection = m_listener.Accept();
                if (!connection.IsConnected()) return;
                ClientProtocol(m_context).HandleRequest(connection);
            }
        });
    }
    ~NoteReceiverPeer() {
        m_listener.Cancel();
        if (m_thread.joinable()) m_thread.join();
    }
    NoteReceiverPeer(const NoteReceiverPeer&) = delete;
    NoteReceiverPeer& operator=(const NoteReceiverPeer&) = delete;

    // 0 when it could not listen.
    uint16_t port() const { return m_port; }
    // What each connection is served with; set before the first arrives.
    ProtocolContext& context() { return m_context; }

private:
    // Connections are served one after another, so the note before has
    // finished arriving when the next is shown.
    struct LastNoteOnly final : NoteDesktopPort {
        void showArrivedNote(std::unique_ptr<NoteRecord> note) override { m_last = std::move(note); }
        void deleteNote(NoteRecord&) override {}
        std::unique_ptr<NoteRecord> m_last;
    };
    struct NoWindows final : NoteStorePort {
        void openNote(NoteRecord*) override {}
        void deleteNote(NoteRecord*) override {}
    };

    platform::MemoryRegistry m_registry;
    GeneralOptions m_general{m_registry};
    NoteOptions m_noteOptions{m_registry};
    AwayOptions m_away{m_registry};
    SoundOptions m_sounds{m_registry};
    LastNoteOnly m_desktop;
    NoWindows m_storePort;
    NoteStore m_store;
    NoteReceiver m_receiver;
    ProtocolContext m_context;
    TcpSocket m_listener;
    uint16_t m_port = 0;
    std::thread m_thread;
};

// The median and 99th percentile of rounds runs of work, in microseconds;
// -1 when a run failed.
inline std::pair<double, double> percentiles(int rounds, const std::function<bool()>& work) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        if (!work()) return {-1, -1};
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times[times.size() * 99 / 100]};
}

} // namespace vp::bench
