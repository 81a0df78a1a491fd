#pragma once
// A client core for the end-to-end tests: its own settings, a desktop that
// keeps the notes that arrive, each in a window of its own, and a
// NoteReceiver behind a peer listener. It sends with its context, whose peer
// port is the other side's; its automatic replies go the same way.

#include "notes/FakeNoteView.h"
#include "notes/NoteRecord.h"
#include "notes/NoteView.h"
#include "platform/MemoryRegistry.h"
#include "protocol/NoteReception.h"
#include "protocol/NoteSending.h"
#include "protocol/RelayAnswers.h"
#include "settings/AwayOptions.h"
#include "settings/GeneralOptions.h"
#include "settings/NoteOptions.h"
#include "settings/SoundOptions.h"
#include "support/NoteListener.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vp::test {

// A note's window, on either side. Its Stop runs once the status line
// begins with stopAt: a sent note's clears transferring, an arrived note's
// cancels the socket it receives on. It shows the note's file, if any.
struct NoteWindow final : QuietNoteView {
    std::mutex lock;
    std::string status, progress, stopAt = "-";
    NoteRecord* note = nullptr;
    bool sending = false;
    TcpSocket* receiving = nullptr;
    void setStatusText(const TextString& text) override {
        const std::lock_guard<std::mutex> guard(lock);
        status = text.c_str();
        // The percentage without the estimate of the time left.
        if (status.find(" file (") != std::string::npos) progress = status.substr(0, status.find_first_of(",)"));
        if (!status.starts_with(stopAt)) return;
        if (sending) note->storeTransferring(0);
        else if (receiving) receiving->Cancel();
    }
    TextString statusText() override {
        const std::lock_guard<std::mutex> guard(lock);
        return status.c_str();
    }
    void labelStatus(const TextString& label) override {
        const std::lock_guard<std::mutex> guard(lock);
        status = std::string(label.c_str()) + ": " + statusTimePart(status.c_str()).c_str();
    }
    void receivingStarted(TcpSocket& socket) override { receiving = &socket; }
    uint32_t hasAttachment() override { return !note->attachmentName.isEmpty(); }
};

// A client core that logs in with it as its listener takes connections on
// its peer port unless reachable is false; it then keeps the relay channel
// open and answers relays.
struct NoteClient final : NoteDesktopPort, PeerListenerPort {
    // files is made and receives the files, filesAsCore names it as the
    // core does; user and server sign the notes sent.
    NoteClient(const std::filesystem::path& files, const std::string& filesAsCore, const char* user,
               const char* server, const char* address, uint16_t port = 0)
        : folder(files), receiveFolder(filesAsCore) {
        std::filesystem::create_directories(folder);
        general.SetString(GeneralOptions::kUserName, user);
        general.SetString(GeneralOptions::kServerName, server);
        away.SetString(AwayOptions::kAutoReplyMsg, "Out to lunch");
        context.general = &general;
        context.noteOptions = &notes;
        context.away = &away;
        context.sounds = &sounds;
        context.notes = &receiver;
        context.relay = &relays;
        receiver.setSoundPlayer([](const char*) {});
        receiver.setBeep([] {});
        listener = std::make_unique<NoteListener>(context, address, port);
    }
    ~NoteClient() override {
        channel.Cancel();
        if (channelThread.joinable()) channelThread.join();
        relays.stop();
    }
    uint32_t isPeerListenerRunning() override { return reachable && listener->port() != 0 ? 1 : 0; }
    // The channel is open when the log-in ends, so that a note sent at once
    // finds it; it is read on a thread of its own.
    uint32_t openEventConnection(const TextString& host, const TextString& ticket) override {
        if (!ClientProtocol(context).OpenChannel(channel, host, ticket)) return 0;
        channelThread = std::thread([this] {
            ClientProtocol protocol(context);
            while (protocol.ChannelMessage(channel)) {}
        });
        return 1;
    }
    void showArrivedNote(std::unique_ptr<NoteRecord> note) override {
        const std::lock_guard<std::mutex> guard(lock);
        note->setWindow(views.emplace_back(std::make_unique<NoteWindow>()).get());
        views.back()->stopAt = stopAt;
        views.back()->note = note.get();
        arrived.push_back(std::move(note));
    }
    void deleteNote(NoteRecord&) override {}
    // The count-th note once it is the last and its reception has ended
    // (its status no longer tells of progress), else null.
    NoteRecord* settled(size_t count) {
        const std::lock_guard<std::mutex> guard(lock);
        if (arrived.size() != count) return nullptr;
        const std::string status = views.back()->statusText().c_str();
        const bool ended = status.starts_with("Received") || status.starts_with("Did not") ||
                           status.starts_with("Auto-replied");
        return ended ? arrived.back().get() : nullptr;
    }
    size_t count() {
        const std::lock_guard<std::mutex> guard(lock);
        return arrived.size();
    }

    std::filesystem::path folder;
    std::string receiveFolder;
    platform::MemoryRegistry registry;
    GeneralOptions general{registry};
    NoteOptions notes{registry};
    AwayOptions away{registry};
    SoundOptions sounds{registry};
    ProtocolContext context;
    // A fresh sender per reply reads the peer port set last.
    NoteReceiver receiver{{nullptr, &general, &notes, &away, &sounds, this, nullptr, receiveFolder.c_str(),
                           NoteReceiver::kBlockTimeoutMilliseconds,
                           [this](NoteRecord& reply) { return autoReplySender(context)(reply); }}};
    std::mutex lock;
    std::string stopAt = "-";
    std::vector<std::unique_ptr<NoteWindow>> views;
    std::vector<std::unique_ptr<NoteRecord>> arrived;
    bool reachable = true;
    TcpSocket channel;
    std::thread channelThread;
    RelayAnswers relays;
    // Last, so that it stops before anything its connections reach goes.
    std::unique_ptr<NoteListener> listener;
};

} // namespace vp::test
