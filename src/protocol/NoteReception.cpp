// The receiving side of a NoteHeader request, from the first YES to the
// note on the desktop or in the new-notes file.

#include "protocol/NoteReception.h"

#include "app/MessageService.h"
#include "contacts/ContactList.h"
#include "foundation/TcpSocket.h"
#include "foundation/TimeText.h"
#include "notes/NoteRecord.h"
#include "notes/NoteStore.h"
#include "platform/Sound.h"
#include "protocol/ClientProtocol.h"
#include "settings/AwayOptions.h"
#include "settings/GeneralOptions.h"
#include "settings/NoteOptions.h"
#include "settings/SoundOptions.h"
#include "wire/Wire.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <utility>

namespace vp {

namespace {

// Only this much of the sender's name makes its key.
constexpr uint32_t kSenderKeyLength = 32;
// A refusal log longer than this starts again from nothing.
constexpr uint32_t kLogLimit = 8000;

constexpr const char* kAuthorizationText =
    "The receiver's authorization mode is on.  You will need to be on their contact list to communicate with them.";
constexpr const char* kDottedAddressText =
    "Sorry.  You cannot communicate with this user using IP references\nbecause the user you are trying to contact "
    "is currently away.\n\nPlease refer to this user by their username and server.";
constexpr const char* kNoAttachmentsText =
    "This user is currently away and will not accept file attachments\nat this moment.\n\nPlease re-send this note "
    "without the attachments.";
constexpr const char* kOutOfSyncText = "Sender is out-of-synchronization.";
constexpr const char* kBadFlagText = "Network commnunication is lost";
constexpr const char* kLostText = "Network communication is lost.";
constexpr const char* kIncompleteText = "Did not receive this note completely.";

// The sender as the contact model keys it: the first characters of its
// name, lower-cased, on the signed-in server when it names none.
TextString senderKey(const TextString& peerName, const TextString& serverName) {
    const TextString key = TextString(peerName.data(), std::min(peerName.length(), kSenderKeyLength)).lowerCased();
    if (std::string_view(key.data(), key.length()).find('@') != std::string_view::npos) return key;
    return key + "@" + serverName.lowerCased();
}

// A closing block or file header: 1 when all 12 bytes arrived in time and
// carry the expected version.
uint32_t readBlock(ClientProtocol& protocol, TcpSocket& socket, uint32_t timeout, FrameHeader& block) {
    uint8_t bytes[FrameHeader::kSize];
    if (!protocol.RecvAllTimed(socket, bytes, FrameHeader::kSize, timeout)) return 0;
    if (!FrameHeader::decode(bytes, sizeof bytes, block)) return 0;
    return block.version == protocol.ownVersion().packed() ? 1 : 0;
}

void setLostText(ClientProtocol& protocol) {
    if (protocol.errorText().isEmpty()) protocol.setErrorText(kLostText);
}

} // namespace

// One note on its way in. The record is owned here until the desktop takes
// it over; note stays valid until the reception ends either way.
struct NoteReceiver::Reception {
    ClientProtocol& protocol;
    TcpSocket& socket;
    std::unique_ptr<NoteRecord>& owned;
    NoteRecord& note;
    uint32_t payloadLength;
    bool shown = false;
    bool hasFile = false;
};

NoteReceiver::NoteReceiver(Setup setup)
    : m_setup(std::move(setup)),
      m_playSound([](const char* path) { platform::playSoundFile(path); }),
      m_clock(&platform::systemTimeSource()) {}

uint32_t NoteReceiver::ReceiveNote(ClientProtocol& protocol, TcpSocket& socket, const FrameHeader& header,
                                   std::unique_ptr<NoteRecord>& note) {
    if (!note || !m_setup.general || !m_setup.noteOptions || !m_setup.away || !m_setup.sounds) return 0;
    // A payload too long to hold is refused before the header is accepted,
    // and before anything is allocated for it.
    if (header.length > wire::kMaxPayloadLength) return 0;
    if (!protocol.SendReply(socket, protocol.ownVersion().packed(), wire::kYes, TextString())) return 0;
    Reception reception{protocol, socket, note, *note, header.length};
    const uint32_t result = receive(reception);
    if (!result) cleanUp(reception);
    return result;
}

uint32_t NoteReceiver::receive(Reception& r) {
    NoteRecord& note = r.note;
    ClientProtocol& protocol = r.protocol;
    const uint32_t own = protocol.ownVersion().packed();
    {
        // The payload is held only until it is parsed. Each receive waits
        // at most the block time-out, so a sender that stops halfway does
        // not hold this thread.
        const uint32_t size = r.payloadLength;
        if (size == 0) return 0;
        std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size]);
        if (!bytes || !protocol.RecvAllTimed(r.socket, bytes.get(), size, m_setup.blockTimeoutMilliseconds)) return 0;
        if (!note.ParsePayload(bytes.get(), size, *m_clock)) return 0;
    }
    const TextString arrivedStatus = note.GetStatus();
    r.hasFile = note.HasAttachment() != 0;

    const TextString key = senderKey(note.peerName, m_setup.general->GetString(GeneralOptions::kServerName));
    ContactHandle contact = 0;
    if (m_setup.contacts && !m_setup.contacts->findContact(key, contact)) contact = 0;
    if (!admit(r, key, contact)) return 0;

    const Plan plan = planReply(note, contact);
    if (plan.autoReply) {
        // An away user is reached only by name, and takes a file only when
        // the reply settings allow it.
        const char* refusal = nullptr;
        if (IsDottedAddress(note.peerName.c_str())) {
            refusal = kDottedAddressText;
        } else if (r.hasFile && !plan.allowFiles) {
            refusal = kNoAttachmentsText;
        }
        if (refusal) {
            protocol.setErrorText(refusal);
            protocol.SendReply(r.socket, own, wire::kNo, TextString(refusal));
            return 0;
        }
    }
    if (!protocol.SendReply(r.socket, own, wire::kYes, TextString())) return 0;

    if (m_setup.noteOptions->GetInt(NoteOptions::kShowOnArrival) == 1 && m_setup.desktop) {
        m_setup.desktop->showArrivedNote(std::move(r.owned));
        r.shown = true;
        playArrivalSound();
    }
    if (note.window()) note.window()->receivingStarted(r.socket);

    if (r.hasFile) {
        if (!ReceiveAttachment(protocol, r.socket, note)) return 0;
    } else if (!readClosingBlock(protocol, r.socket)) {
        return 0;
    }

    note.CloseIncomingAttachment();
    if (note.window()) note.window()->receivingEnded();
    note.SetStatus(arrivedStatus);
    return finish(r, plan);
}

// Privacy and visibility: 1 when the sender may deliver; a refused sender
// has been told why and is in the log.
uint32_t NoteReceiver::admit(Reception& r, const TextString& key, ContactHandle contact) {
    ClientProtocol& protocol = r.protocol;
    const uint32_t own = protocol.ownVersion().packed();
    if (!contact) {
        if (m_setup.general->GetInt(GeneralOptions::kEnablePrivacy) != 1) return 1;
        protocol.setErrorText(kAuthorizationText);
        if (protocol.SendReply(r.socket, own, wire::kNo, TextString(kAuthorizationText))) {
            protocol.setErrorText(TextString("An unauthorized user, '") + key +
                                  "', has been blocked while attempting to communicate with you.\n\n" +
                                  "To allow incoming communications from this user, please add them to your contact "
                                  "list or uncheck the Authorized-Contacts-Only feature from your contact list.");
            LogRefusal(key);
        }
        return 0;
    }
    // A contact whose state cannot be read is let through.
    uint32_t state = kPrivacyDefault;
    TextString refusal;
    if (!m_setup.contacts->getRefusal(contact, state, refusal)) return 1;
    protocol.setErrorText(refusal);
    if (state != kPrivacyIgnore) return 1;
    if (protocol.SendReply(r.socket, own, wire::kNo, refusal)) {
        TextString displayName;
        const TextString display = m_setup.contacts->getDisplayName(contact, displayName) && !displayName.isEmpty()
                                       ? TextString(" (") + displayName + ") "
                                       : TextString();
        protocol.setErrorText(TextString("A known user, '") + key + display +
                              "', has been blocked while attempting to communicate with you.\n\n" +
                              "To allow incoming communications from this user, please set their visibility state "
                              "to \"Default\".");
        LogRefusal(key + display);
    }
    return 0;
}

// The automatic reply is settled before the sender hears anything: a
// contact's own settings while the user is here (or away with custom
// messages), the away settings otherwise, never for an automatic reply.
NoteReceiver::Plan NoteReceiver::planReply(const NoteRecord& note, ContactHandle contact) {
    Plan plan;
    if (note.autoReply) return plan;
    AwayOptions& away = *m_setup.away;
    if (away.GetInt(AwayOptions::kAwayMode) != 1) {
        contactPlan(contact, plan);
        return plan;
    }
    if (away.GetInt(AwayOptions::kAutoReplyWithCustomMsg) == 1 && contactPlan(contact, plan)) return plan;
    plan.autoReply = 1;
    plan.message = away.GetString(AwayOptions::kAutoReplyMsg);
    plan.includeSource = away.GetInt(AwayOptions::kAutoReplyWithInclude);
    plan.allowFiles = away.GetInt(AwayOptions::kAutoReplyAllowAttachments);
    plan.deleteAfterReply = away.GetInt(AwayOptions::kAutoReplyAndDelete);
    return plan;
}

uint32_t NoteReceiver::contactPlan(ContactHandle contact, Plan& plan) {
    if (!contact || !m_setup.contacts) return 0;
    uint32_t autoReply = 0;
    uint32_t include = 0;
    uint32_t allowFiles = 0;
    uint32_t alwaysZero = 0;
    TextString message;
    if (!m_setup.contacts->getReceptionInfo(contact, autoReply, include, allowFiles, alwaysZero, message) ||
        autoReply != 1)
        return 0;
    plan.autoReply = 1;
    plan.message = message.isEmpty() ? m_setup.away->GetString(AwayOptions::kAutoReplyMsg) : message;
    plan.includeSource = include;
    plan.allowFiles = allowFiles;
    plan.deleteAfterReply = 0;
    return 1;
}

// The sender of a note without a file ends with {version, 0, 0}; a block
// that does not come still leaves the note accepted.
uint32_t NoteReceiver::readClosingBlock(ClientProtocol& protocol, TcpSocket& socket) {
    FrameHeader block;
    if (!readBlock(protocol, socket, m_setup.blockTimeoutMilliseconds, block)) {
        setLostText(protocol);
    } else if (block.code == wire::kYes) {
        protocol.setErrorText(kOutOfSyncText);
        return 0;
    } else if (block.code != wire::kNo) {
        protocol.setErrorText(kBadFlagText);
        return 0;
    }
    return protocol.SendReply(socket, protocol.ownVersion().packed(), wire::kYes, TextString());
}

// The file's bytes follow its header as one run, read in blocks of at most
// kBlockBytes straight into the file.
uint32_t NoteReceiver::ReceiveAttachment(ClientProtocol& protocol, TcpSocket& socket, NoteRecord& note) {
    note.SetStatus("Receiving File...");
    FrameHeader block;
    if (!readBlock(protocol, socket, m_setup.blockTimeoutMilliseconds, block)) {
        setLostText(protocol);
        return 0;
    }
    if (block.code == wire::kNo) {
        protocol.setErrorText(kOutOfSyncText);
        return 0;
    }
    if (block.code != wire::kYes) {
        protocol.setErrorText(kBadFlagText);
        return 0;
    }
    if (!note.OpenIncomingAttachment(m_setup.receiveFolder)) return 0;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[TransferProgress::kBlockBytes]);
    if (!buffer) return 0;

    TransferProgress progress(TransferProgress::Side::Receiving, block.length, m_ticks);
    uint32_t written = 1;
    while (progress.remaining() > 0) {
        const uint32_t count = std::min(TransferProgress::kBlockBytes, progress.remaining());
        if (!protocol.RecvAllTimed(socket, buffer.get(), count, m_setup.blockTimeoutMilliseconds)) return 0;
        written = note.WriteIncomingAttachment(buffer.get(), count);
        TextString text;
        if (progress.advance(count, text)) note.SetStatus(text);
        if (!written) break;
    }
    if (!written || progress.remaining() > 0) return 0;
    if (!protocol.SendReply(socket, protocol.ownVersion().packed(), wire::kYes, TextString())) return 0;
    if (m_beep) m_beep();
    return 1;
}

// The note has arrived whole: the automatic reply, then the note shown,
// stored, or deleted when the user asked for that.
uint32_t NoteReceiver::finish(Reception& r, const Plan& plan) {
    NoteRecord& note = r.note;
    uint32_t replied = 0;
    if (plan.autoReply) {
        note.LabelStatus("Auto-replying...");
        replied = SendAutoReply(note, plan.message, plan.includeSource,
                                m_setup.general->GetString(GeneralOptions::kUserName),
                                m_setup.general->GetString(GeneralOptions::kServerName), m_setup.sendAutoReply);
        note.LabelStatus(replied ? "Auto-replied" : "Received (could not auto-reply this note)");
    } else if (note.autoReply) {
        note.LabelStatus("Received (via auto-reply)");
    }

    const bool prompt = m_setup.noteOptions->GetInt(NoteOptions::kPromptOnArrival) == 1;
    const bool isReply = note.autoReply != 0;
    const TextString peer = note.peerName;
    if (replied && plan.deleteAfterReply && !isReply) {
        discard(r);
        if (prompt)
            notify(TextString("You have been contacted by '") + peer +
                   "', a reply was sent.\nThe note was deleted as per your request.");
        return 1;
    }

    if (!r.shown) {
        playArrivalSound();
        if (m_setup.store && m_setup.store->AppendToNewNotes(note)) {
            // The note now lives only in the store.
            discard(r);
            m_setup.noteOptions->SetInt(NoteOptions::kNewNotesAvailable, 1);
            if (prompt) {
                if (isReply) {
                    notify(TextString("You have received a reply from '") + peer + "'.\nPlease check for new note.");
                } else if (replied) {
                    notify(TextString("You have received a note from '") + peer +
                           "'.\nA reply was sent. Please check for new note.");
                } else {
                    notify(TextString("You have received a note from '") + peer + "'.\nPlease check for new note.");
                }
            }
            return 1;
        }
        // A note that could not be stored is shown rather than lost; with
        // no desktop to show it on, it did not arrive.
        if (!m_setup.desktop) return 0;
        m_setup.desktop->showArrivedNote(std::move(r.owned));
        r.shown = true;
    }
    if (prompt) {
        notify(isReply ? TextString("You have received a reply from '") + peer + "'."
                       : TextString("You have received a note from '") + peer + "'.");
    }
    return 1;
}

void NoteReceiver::discard(Reception& r) {
    if (r.shown) {
        m_setup.desktop->deleteNote(r.note);
    } else {
        r.owned.reset();
    }
}

// A note that did not arrive leaves no partial file behind, and its window
// says so.
void NoteReceiver::cleanUp(Reception& r) {
    NoteRecord& note = r.note;
    note.CloseIncomingAttachment();
    if (r.hasFile) note.RemoveAttachment(m_setup.receiveFolder);
    if (note.window()) {
        note.window()->receivingEnded();
        note.SetStatus(kIncompleteText);
        showMessage(kIncompleteText, kMessageError);
    }
}

void NoteReceiver::playArrivalSound() {
    SoundOptions& sounds = *m_setup.sounds;
    if (sounds.GetInt(SoundOptions::kPlayOnNoteArrived) != 1 || !m_playSound) return;
    m_playSound(sounds.GetString(SoundOptions::kNoteArrivedSound).c_str());
}

void NoteReceiver::notify(const TextString& text) {
    showInfo(text.c_str());
}

// The log is one text in the settings; two refusals at once must not lose
// each other's line.
void NoteReceiver::LogRefusal(const TextString& text) {
    NoteOptions& options = *m_setup.noteOptions;
    const std::lock_guard<std::mutex> guard(m_logLock);
    TextString log = options.GetString(NoteOptions::kUnauthorizedList);
    if (log.length() > kLogLimit) log = "";
    const TextString time = StatusTimeText(*m_clock);
    const TextString line = time.isValid() ? text + " - " + time + "\r\n" : text + " - sometime ago.\r\n";
    options.SetString(NoteOptions::kUnauthorizedList, log + line);
}

} // namespace vp
