// A client core on a loopback address, the other side of the end-to-end
// tests of another build (the Windows client under Wine): it takes in one
// note on its peer port and answers with a note of its own, carrying the
// file that note brought, to the dotted address the note names as its
// sender, on the same peer port, as every client uses one.
//
//   vellumpost-note-peer FOLDER
//
// Listens on 127.0.0.3 at a port the system picks and writes "127.0.0.3
// PORT" to FOLDER/address once it does; received files go to FOLDER/files.
// Exits 0 once its answer was delivered, 1 when it was not or when no note
// came within two minutes.

#include "foundation/TcpSocket.h"
#include "notes/NoteRecord.h"
#include "notes/NoteView.h"
#include "platform/MemoryRegistry.h"
#include "protocol/NoteReception.h"
#include "protocol/NoteSending.h"
#include "settings/AwayOptions.h"
#include "settings/GeneralOptions.h"
#include "settings/NoteOptions.h"
#include "settings/SoundOptions.h"
#include "support/NoteListener.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>

namespace vp {
namespace {

constexpr char kAddress[] = "127.0.0.3";

// Holds the arrived note and says when its file is in.
class Desktop final : public NoteDesktopPort, public NoteView {
public:
    void showArrivedNote(std::unique_ptr<NoteRecord> note) override {
        const std::lock_guard<std::mutex> guard(m_lock);
        note->setWindow(this);
        m_note = std::move(note);
    }
    void receivingEnded() override {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_received = true;
        m_arrived.notify_all();
    }
    NoteRecord* wait() {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_arrived.wait_for(lock, std::chrono::minutes(2), [this] { return m_received; }) ? m_note.get()
                                                                                                : nullptr;
    }
    void deleteNote(NoteRecord&) override {}
    void setStatusText(const TextString& text) override { m_status = text; }
    TextString statusText() override { return m_status; }
    void labelStatus(const TextString& label) override { m_status = label; }
    uint32_t hasAttachment() override { return !m_note->attachmentName.isEmpty(); }
    uint32_t pullState() override { return 1; }
    void receivingStarted(TcpSocket&) override {}
    void setSending(uint32_t) override {}
    void resetAttachmentView() override {}
    void showHeader() override {}
    void show() override {}
    void hide() override {}
    void destroyWindow() override {}
    void networkOperationStarted(TcpSocket&) override {}
    void networkOperationEnded() override {}

private:
    std::mutex m_lock;
    std::condition_variable m_arrived;
    bool m_received = false;
    std::unique_ptr<NoteRecord> m_note;
    TextString m_status;
};

int run(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder / "files");
    platform::MemoryRegistry registry;
    GeneralOptions general(registry);
    NoteOptions notes(registry);
    AwayOptions away(registry);
    SoundOptions sounds(registry);
    general.SetString(GeneralOptions::kUserName, kAddress);
    Desktop desktop;
    const std::string files = (folder / "files").string();
    NoteReceiver receiver({nullptr, &general, &notes, &away, &sounds, &desktop, nullptr, files.c_str(),
                           NoteReceiver::kBlockTimeoutMilliseconds, nullptr});
    receiver.setSoundPlayer([](const char*) {});
    receiver.setBeep([] {});
    ProtocolContext context;
    context.general = &general;
    context.noteOptions = &notes;
    context.away = &away;
    context.sounds = &sounds;
    context.notes = &receiver;
    test::NoteListener listener(context, kAddress, 0);
    if (listener.port() == 0) return 1;
    context.peerPort = listener.port();
    std::ofstream(folder / "address.new") << kAddress << " " << listener.port() << "\n";
    std::filesystem::rename(folder / "address.new", folder / "address");

    NoteRecord* const arrived = desktop.wait();
    if (!arrived) return 1;
    NoteRecord answer(arrived->peerName);
    answer.content.assign("{\\rtf1 Here it is back.}", 24);
    if (!arrived->attachmentName.isEmpty()) answer.SetAttachment(arrived->attachmentFolder + arrived->attachmentName);
    const uint32_t sent = SendWork(answer, context);
    std::fprintf(stderr, "note-peer: a note from %s, %s\n", arrived->peerName.c_str(),
                 sent ? "answered" : "not answered");
    listener.stop();
    return sent ? 0 : 1;
}

} // namespace
} // namespace vp

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vellumpost-note-peer FOLDER\n");
        return 2;
    }
    if (!vp::NetStartup()) return 1;
    const int result = vp::run(argv[1]);
    vp::NetCleanup();
    return result;
}
