// The note-level steps of a send around the wire exchange: the name field
// checked and resolved, the window's sending state, and the final status,
// prompt or deletion.

#include "protocol/NoteSending.h"

#include "app/MessageService.h"
#include "foundation/TcpSocket.h"
#include "foundation/ThreadLib.h"
#include "foundation/TimeText.h"
#include "notes/NoteRecord.h"
#include "protocol/ClientProtocol.h"
#include "settings/GeneralOptions.h"
#include "settings/NoteOptions.h"

#include <cstring>

namespace vp {

namespace {

constexpr char kNoWindow[] = "Cannot deliver this note; possibly out of memory.";
constexpr char kNoName[] = "Cannot deliver this note; the name field is empty.";
constexpr char kNoSentTime[] = "Unable to display sent time.";

void setSending(NoteRecord& note, uint32_t on) {
    if (note.window()) note.window()->setSending(on);
}

uint32_t noteOption(const ProtocolContext& context, uint32_t id) {
    return context.noteOptions ? context.noteOptions->GetInt(id) : 0;
}

TextString signedInServer(const ProtocolContext& context) {
    return context.general ? context.general->GetString(GeneralOptions::kServerName) : TextString();
}

// The name field resolved: the receiver's host, and the note addressed to
// the user part alone.
TextString destinationHost(NoteRecord& note, const ProtocolContext& context) {
    const NoteDestination destination = resolveDestination(note.peerName, signedInServer(context));
    note.peerName = destination.peerName;
    return destination.host;
}

void setSentStatus(NoteRecord& note) {
    const TextString sentTime = StatusTimeText();
    note.SetStatus(sentTime.isValid() ? TextString("Sent: ") + sentTime : TextString(kNoSentTime));
}

} // namespace

NoteDestination resolveDestination(const TextString& peerName, const TextString& signedInServer) {
    if (IsDottedAddress(peerName.c_str())) return {peerName, peerName};
    const char* text = peerName.c_str();
    const char* at = std::strrchr(text, '@');
    if (at == nullptr) return {signedInServer, peerName};
    const TextString user(text, static_cast<uint32_t>(at - text));
    return {TextString(at + 1).collapseSeparator(' '), user.collapseSeparator(' ')};
}

TextString noteSenderName(const ProtocolContext& context) {
    if (!context.general) return TextString();
    const TextString user = context.general->GetString(GeneralOptions::kUserName);
    const TextString server = context.general->GetString(GeneralOptions::kServerName);
    return server.isEmpty() ? user : user + "@" + server;
}

uint32_t Send(NoteRecord& note, const ProtocolContext& context) {
    if (!note.EnsureWindow()) {
        showMessage(kNoWindow, kMessageError);
        return 0;
    }
    NoteRecord* const record = &note;
    const uint32_t id = ThreadLib::createThread([record, context]() { return SendWork(*record, context); });
    if (id == 0 || !ThreadLib::resume(id)) {
        showMessage(kNoWindow, kMessageError);
        return 0;
    }
    return 1;
}

uint32_t SendWork(NoteRecord& note, const ProtocolContext& context) {
    if (note.peerName.isEmpty()) {
        showMessage(kNoName, kMessageError);
        setSending(note, 0);
        return 0;
    }
    setSending(note, 1);
    const TextString host = destinationHost(note, context);
    const TextString oldStatus = note.GetStatus();
    ClientProtocol protocol(context);
    if (!protocol.SendNote(host, noteSenderName(context), note)) {
        if (note.window() && note.HasAttachment()) note.window()->resetAttachmentView();
        if (!protocol.errorText().isEmpty()) showMessage(protocol.errorText().c_str(), kMessageError);
        if (note.window()) note.window()->show();
        setSending(note, 0);
        note.SetStatus(oldStatus);
        return 0;
    }
    if (noteOption(context, NoteOptions::kPromptOnSent) == 1)
        showMessage((TextString("The note has been sent to '") + note.peerName + "' successfully.").c_str(),
                    kMessageInformation);
    setSentStatus(note);
    setSending(note, 0);
    if (noteOption(context, NoteOptions::kDeleteAfterSent) == 1 && context.desktop) context.desktop->deleteNote(note);
    else if (note.window()) note.window()->show();
    return 1;
}

// A reply has no window to show a failure in or a sending state to keep:
// the receiver's status line tells whether it went, and the reply is gone
// once this returns.
NoteReceiver::AutoReplySender autoReplySender(const ProtocolContext& context) {
    return [context](NoteRecord& reply) -> uint32_t {
        const TextString host = destinationHost(reply, context);
        ClientProtocol protocol(context);
        if (!protocol.SendNote(host, noteSenderName(context), reply)) return 0;
        setSentStatus(reply);
        return 1;
    };
}

} // namespace vp
