// A note's road from this client to another: the connection to the
// receiver (named by address, or found through its server), the note header
// and payload, and the attached file in blocks.
//
// The note window's Stop cancels the socket it was handed when the network
// operation started; a cancelled socket fails every later call, so the
// running step fails and the send ends. During a file transfer Stop clears
// the note's transferring flag instead, and the file ends after its block;
// a block waits for room a second at a time, so that Stop also ends a
// transfer whose receiver has stalled.

#include "app/AppInfo.h"
#include "app/MessageService.h"
#include "notes/NoteRecord.h"
#include "platform/Sound.h"
#include "protocol/ClientProtocol.h"
#include "protocol/TransferProgress.h"
#include "settings/SoundOptions.h"
#include "wire/StoredNotePayloads.h"
#include "wire/Wire.h"

#include <algorithm>
#include <limits>

namespace vp {

namespace {

constexpr uint32_t kConnectWaitMilliseconds = 60000;
constexpr uint32_t kPollIntervalMilliseconds = 100;
// The address a server gives for a user it can reach only through its relay.
constexpr char kRelayOnly[] = "0.0.0.0";

constexpr char kContacting[] = "Contacting remote computer...";
constexpr char kConnectedSending[] = "Connected.  Sending note content...";
constexpr char kSendingHeader[] = "Sending note header.";
constexpr char kContacted[] = "Contacted.  Sending note content...";

constexpr char kCannotDeliver[] = "Cannot deliver this note.\n\n";
constexpr char kNoMemory[] = "Not enough memory to continue.";
constexpr char kCancelled[] = "Network operation cancelled.";
constexpr char kNoConnectionNow[] = "Sorry.  Cannot make a connection at this point.\nPlease try again later.";
constexpr char kServerNotResponding[] = "Sorry.  Server is not responding.";
constexpr char kAttachmentsNotStored[] = "Sorry.  This note has files attached and therefore cannot be stored on "
                                         "the server.\nPlease remove the attachments and try again.";
constexpr char kCannotPrepareStored[] = "Sorry.  Cannot prepare the note content needed to leave this note on the "
                                        "server.\nPlease free up some memory and try again later.";
constexpr char kNoDestination[] =
    "Cannot deliver this note.\n\nYou need to enter the name of the person you wish to send to.";
constexpr char kFileTooLarge[] = "Cannot deliver this note.\n\nThe attached file is too large to send.";
constexpr char kNotResponding[] = "Cannot deliver this note.\n\nThe receiver is not responding.";
constexpr char kCommunicationLost[] =
    "Sorry, cannot deliver this note.\n\nPossibly because the network communication is lost.";
constexpr char kNoteReplyLost[] = "Sorry, cannot deliver this note.\n\nCannot reach the remote computer.";
constexpr char kLastAcknowledgementLost[] = "The network connection is lost.";
constexpr char kBlockNotSent[] = "Sorry, cannot continue sending file(s) at this time.\nPlease try again later.";
constexpr char kTransferCancelled[] = "File transfer cancelled.";
constexpr char kFileReplyLost[] = "Sorry, cannot continue sending attached file(s).\n\nThe network connection is lost.";
constexpr char kReceiverStopped[] =
    "Sorry, cannot continue sending attached file(s).\n\nThe receiver has stopped the transfer.";

// How long one wait for room in the send buffer lasts before the transfer
// looks at its flag again.
constexpr uint32_t kBlockWaitSeconds = 1;

// Stop cancels the socket; a cancelled socket reports ErrNotConnected for
// every later call, which a connection this side opened itself reports for
// nothing else.
bool stopped(const TcpSocket& socket) {
    return !socket.IsValid() || socket.LastError() == TcpSocket::ErrNotConnected;
}

TextString cannotContact(const TextString& name) {
    return TextString("Sorry.  Cannot contact the client, '") + name + "', at the moment.\n";
}

} // namespace

uint32_t ClientProtocol::SendNote(const TextString& destinationHost, const TextString& senderName, NoteRecord& note) {
    m_errorText = "";
    if (!note.BuildPayload(senderName)) {
        m_errorText = TextString(kCannotDeliver) + kNoMemory;
        return 0;
    }
    TcpSocket socket;
    NoteView* const window = note.window();
    if (window) window->networkOperationStarted(socket);
    note.SetStatus(kContacting);
    const uint32_t delivered = [&]() -> uint32_t {
        TextString address;
        uint32_t throughRelay = 0;
        if (ConnectToReceiver(socket, destinationHost, note.peerName, address, throughRelay, kConnectWaitMilliseconds,
                              kPollIntervalMilliseconds)) {
            note.SetStatus(kConnectedSending);
            return DeliverNote(socket, destinationHost, senderName, note);
        }
        if (stopped(socket)) {
            m_errorText = kCancelled;
            return 0;
        }
        return offerToLeaveOnServer(socket, destinationHost, note);
    }();
    if (window) window->networkOperationEnded();
    if (delivered && m_context.sounds && m_context.sounds->GetInt(SoundOptions::kPlayOnNoteSent) == 1)
        platform::playSoundFile(m_context.sounds->GetString(SoundOptions::kNoteSentSound).c_str());
    socket.Reset();
    socket.Close();
    return delivered;
}

// The receiver could not be reached: when its server can, the user may
// leave the note there. Declining keeps the text of the failed attempt.
uint32_t ClientProtocol::offerToLeaveOnServer(TcpSocket& socket, const TextString& destinationHost, NoteRecord& note) {
    // An automatic reply goes out while the user is away, on the thread that
    // serves the note it answers: nobody would answer the question, and that
    // thread would wait for them.
    if (note.autoReply) return 0;
    const TextString attemptText = m_errorText;
    socket.Create();
    if (!ConnectToServer(socket, destinationHost, wire::kServerPort, kConnectWaitMilliseconds,
                         kPollIntervalMilliseconds)) {
        m_errorText = kNoConnectionNow;
        return 0;
    }
    m_errorText = attemptText;
    // The core knows no window handle: the note window, which has just
    // started the send, is the one with the focus.
    const std::uintptr_t owner = note.window() ? kFocusedOwner : kNoOwner;
    const TextString question = TextString("The user, '") + note.peerName +
                                "', is not online.\nWould you like to try and leave this note on their server?";
    if (ask(owner, question.c_str(), kMbOkCancel) != kIdOk) return 0;
    if (note.HasAttachment()) {
        showMessage(kAttachmentsNotStored, kMessageError, owner);
        return 0;
    }
    const PayloadWriter block = storedNoteBlock(note.payload(), note.payloadSize());
    if (!block.ok()) {
        m_errorText = kCannotPrepareStored;
        return 0;
    }
    return LeaveNote(socket, note.peerName, block.data(), block.size());
}

uint32_t ClientProtocol::ConnectToReceiver(TcpSocket& socket, const TextString& destinationHost,
                                           const TextString& receiverName, TextString& address,
                                           uint32_t& throughRelay, uint32_t totalWaitMilliseconds,
                                           uint32_t intervalMilliseconds) {
    throughRelay = 0;
    if (IsDottedAddress(receiverName.c_str())) {
        address = receiverName;
    } else {
        if (!connectPolled(socket, destinationHost, m_context.serverPort, totalWaitMilliseconds,
                           intervalMilliseconds)) {
            m_errorText = kServerNotResponding;
            return 0;
        }
        if (!Locate(socket, receiverName, totalWaitMilliseconds)) return 0;
        address = m_replyText;
        throughRelay = address == kRelayOnly ? 1 : 0;
        socket.Create();
        if (throughRelay) {
            if (!connectPolled(socket, destinationHost, m_context.serverPort, totalWaitMilliseconds,
                               intervalMilliseconds)) {
                m_errorText = kServerNotResponding;
                return 0;
            }
            return RequestRelay(socket, receiverName, totalWaitMilliseconds, intervalMilliseconds);
        }
    }
    if (!connectPolled(socket, address, m_context.peerPort, totalWaitMilliseconds, intervalMilliseconds)) {
        m_errorText = cannotContact(receiverName);
        return 0;
    }
    return 1;
}

uint32_t ClientProtocol::DeliverNote(TcpSocket& socket, const TextString& destinationHost,
                                     const TextString& senderName, NoteRecord& note) {
    if (destinationHost.isEmpty()) {
        m_errorText = kNoDestination;
        return 0;
    }
    if (note.payload() == nullptr && !note.BuildPayload(senderName)) {
        m_errorText = TextString(kCannotDeliver) + kNoMemory;
        return 0;
    }
    const bool withFile = note.HasAttachment() != 0;
    if (withFile) {
        uint32_t error = 0;
        if (!note.MapAttachment(error)) {
            TextString reason;
            systemErrorText(reason, error);
            m_errorText = TextString(kCannotDeliver) + reason;
            return 0;
        }
    }
    const uint32_t delivered = deliverMapped(socket, note, withFile);
    note.storeTransferring(0);
    if (withFile) note.UnmapAttachment();
    return delivered;
}

uint32_t ClientProtocol::deliverMapped(TcpSocket& socket, NoteRecord& note, bool withFile) {
    // The file's size travels as one 32-bit word.
    if (withFile && note.AttachmentSize() > std::numeric_limits<uint32_t>::max()) {
        m_errorText = kFileTooLarge;
        return 0;
    }
    if (!socket.IsConnected()) {
        m_errorText = kNotResponding;
        return 0;
    }
    note.SetStatus(kSendingHeader);
    if (!sendHeader(socket, wire::kNoteHeader, note.payloadSize())) return 0;
    const int32_t header = GetYesNo(socket, m_ownVersion);
    if (header != 1) {
        if (header < 0) m_errorText = kCommunicationLost;
        else if (m_errorText.isEmpty())
            m_errorText = TextString("Sorry.  Cannot deliver this note.\n\nThis person is using an older copy of ") +
                          kDisplayName + " program.";
        return 0;
    }
    note.SetStatus(kContacted);
    if (!SendAll(socket, note.payload(), note.payloadSize())) {
        m_errorText = kCommunicationLost;
        return 0;
    }
    const int32_t accepted = GetYesNo(socket, m_ownVersion);
    if (accepted < 0) m_errorText = kNoteReplyLost;
    if (accepted != 1) return 0;
    note.storeTransferring(1);
    if (withFile) return SendAttachment(socket, note);
    if (!sendHeader(socket, wire::kNo, 0)) return 0;
    // The receiver has the note once it accepted it; a lost last
    // acknowledgement only gets a word.
    if (GetYesNo(socket, m_ownVersion) < 0) m_errorText = kLastAcknowledgementLost;
    return 1;
}

// Blocks go straight from the mapped view, with no header or
// acknowledgement of their own; one reply follows the whole file.
uint32_t ClientProtocol::SendAttachment(TcpSocket& socket, NoteRecord& note) {
    const uint64_t fileSize = note.AttachmentSize();
    if (fileSize > std::numeric_limits<uint32_t>::max()) {
        m_errorText = kFileTooLarge;
        return 0;
    }
    const auto size = static_cast<uint32_t>(fileSize);
    if (!sendHeader(socket, wire::kYes, size)) return 0;
    note.SetStatus(TransferProgress::startText());
    TransferProgress progress(TransferProgress::Side::Sending, size);
    const uint8_t* at = note.AttachmentData();
    while (progress.remaining() > 0 && note.loadTransferring() == 1) {
        const uint32_t count = std::min(progress.sendBlock(), progress.remaining());
        const uint32_t sent = socket.SendTimed(at, count, kBlockWaitSeconds);
        if (sent == 0) {
            if (socket.LastError() == TcpSocket::ErrTimeout) continue;
            m_errorText = kBlockNotSent;
            return 0;
        }
        at += sent;
        TextString status;
        if (progress.advance(sent, status)) note.SetStatus(status);
    }
    // A Stop after the last block has nothing left to stop.
    if (progress.remaining() > 0) {
        m_errorText = kTransferCancelled;
        return 0;
    }
    const int32_t reply = GetYesNo(socket, m_ownVersion);
    if (reply < 0) m_errorText = kFileReplyLost;
    else if (reply == 0 && m_errorText.isEmpty()) m_errorText = kReceiverStopped;
    return 1;
}

} // namespace vp
