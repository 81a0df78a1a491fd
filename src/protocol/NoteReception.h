#pragma once
// The receiving side of a note: the payload taken in, the sender weighed
// (privacy, visibility, away mode and its automatic reply), the sender
// answered, the attached file streamed into the receive folder, and the
// note shown on the desktop or kept with the new notes.

#include "contacts/ContactRecord.h"
#include "foundation/TextString.h"
#include "platform/Clock.h"
#include "protocol/ProtocolPorts.h"
#include "protocol/TransferProgress.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace vp {

class NoteStore;

class NoteReceiver final : public NoteReceiverPort {
public:
    // Sends an automatic reply that is ready to go; 1 when it was delivered.
    using AutoReplySender = std::function<uint32_t(NoteRecord& reply)>;
    using SoundPlayer = std::function<void(const char* path)>;

    // How long one receive of a payload, a closing block or a block of the
    // file waits before the note is given up.
    static constexpr uint32_t kBlockTimeoutMilliseconds = 180000;

    struct Setup {
        ContactList* contacts = nullptr;  // none: every sender is unknown
        GeneralOptions* general = nullptr;
        NoteOptions* noteOptions = nullptr;
        AwayOptions* away = nullptr;
        SoundOptions* sounds = nullptr;
        // None: an arrived note is stored as if it were not to be shown.
        NoteDesktopPort* desktop = nullptr;
        NoteStore* store = nullptr;
        // Where attached files are written; nothing is written elsewhere.
        TextString receiveFolder;
        uint32_t blockTimeoutMilliseconds = kBlockTimeoutMilliseconds;
        AutoReplySender sendAutoReply;
    };

    // The four settings groups are required.
    explicit NoteReceiver(Setup setup);

    // Replaces the platform's sound player, the beep at the end of a file,
    // the clock of the refusal log and the tick count of the progress.
    void setSoundPlayer(SoundPlayer player) { m_playSound = std::move(player); }
    void setBeep(std::function<void()> beep) { m_beep = std::move(beep); }
    void setClock(const platform::TimeSource& clock) { m_clock = &clock; }
    void setTicks(TickSource ticks) { m_ticks = std::move(ticks); }

    // Takes in the note whose header arrived: 1 when it was shown, stored or
    // answered and deleted, 0 when it was refused or did not arrive whole.
    uint32_t ReceiveNote(ClientProtocol& protocol, TcpSocket& socket, const FrameHeader& header,
                         std::unique_ptr<NoteRecord>& note) override;

    // Receives the attached file after the note was accepted: 1 when all of
    // it was written and the sender was told so.
    uint32_t ReceiveAttachment(ClientProtocol& protocol, TcpSocket& socket, NoteRecord& note);

    // Adds a refused sender to the UnauthorizedList log with the time.
    void LogRefusal(const TextString& text);

private:
    struct Plan {
        uint32_t autoReply = 0;
        TextString message;
        uint32_t includeSource = 0;
        uint32_t allowFiles = 0;
        uint32_t deleteAfterReply = 0;
    };
    struct Reception;

    uint32_t receive(Reception& reception);
    uint32_t admit(Reception& reception, const TextString& key, ContactHandle contact);
    Plan planReply(const NoteRecord& note, ContactHandle contact);
    uint32_t contactPlan(ContactHandle contact, Plan& plan);
    uint32_t readClosingBlock(ClientProtocol& protocol, TcpSocket& socket);
    uint32_t finish(Reception& reception, const Plan& plan);
    void discard(Reception& reception);
    void cleanUp(Reception& reception);
    void playArrivalSound();
    void notify(const TextString& text);

    Setup m_setup;
    SoundPlayer m_playSound;
    std::function<void()> m_beep;
    const platform::TimeSource* m_clock;
    TickSource m_ticks = millisecondTicks;
    std::mutex m_logLock;
};

} // namespace vp
