#include "notes/NotePaper.h"

#include "foundation/TcpSocket.h"

#include <algorithm>
#include <string>

namespace vp {

namespace {

constexpr uint32_t kPeerNameLimit = 256;

NoteRect at(int32_t left, int32_t top, int32_t width, int32_t height) {
    return NoteRect{left, top, left + width, top + height};
}

} // namespace

NotePaperLayout notePaperLayout(int32_t w, int32_t h, bool headerShown, bool hasAttachment) {
    NotePaperLayout layout;
    const int32_t t = headerShown ? kHeaderHeight : 0;
    layout.headerHeight = t;
    layout.title = NoteRect{0, 0, w, kTitleHeight};
    layout.closeBox = NoteRect{w - 18, 4, w - 4, 20};
    layout.headerToggle = NoteRect{w - 20, t + 25, w - 5, t + 35};
    layout.headerToggleIcon = NoteRect{w - 18, t + 25, w - 2, t + 41};
    layout.grip = NoteRect{w - 15, h - 15, w, h};
    layout.button = at(5, 24, 45, 20);
    layout.nameField = at(60, 24, w - 80, 20);
    // The body ends above the attachment strip, or above the separator over
    // the status line, so that neither lies under it; at the least size no
    // room is left for it.
    layout.body = at(5, t + 25, w - 25, std::max(0, h - t - (hasAttachment ? 65 : 50)));
    layout.attachment = at(5, h - 40, w - 25, 20);
    layout.status = at(5, h - 18, w - 25, 15);
    return layout;
}

NoteSize limitNoteSize(NoteSize wanted, int32_t headerHeight, NoteSize screen) {
    const int32_t least = headerHeight + 56;
    return NoteSize{std::clamp(wanted.width, kMinimumNoteWidth, std::max(kMinimumNoteWidth, screen.width)),
                    std::clamp(wanted.height, least, std::max(least, screen.height))};
}

TextString notePeerName(const char* fieldText) {
    std::string name;
    bool space = false;
    for (uint32_t i = 0; fieldText[i] != '\0' && i < kPeerNameLimit; ++i) {
        const char c = fieldText[i];
        if (c == ' ') {
            space = true;
            continue;
        }
        if (space && !name.empty()) name += ' ';
        space = false;
        name += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return TextString(name.c_str());
}

TextString noteTitle(const char* fieldText) { return TextString(*fieldText ? fieldText : "Note"); }

ButtonAction buttonAction(const NotePaperState& state) {
    if (state.networkOperation && state.received) return ButtonAction::CloseReceiveSocket;
    if (state.networkOperation || (state.sending && !state.received))
        return state.transferring ? ButtonAction::StopTransfer : ButtonAction::CloseSendSocket;
    return state.received ? ButtonAction::Reply : ButtonAction::Send;
}

DeleteAction deleteAction(const NotePaperState& state) {
    if (state.networkOperation) return DeleteAction::Beep;
    if (state.sending) return state.transferring ? DeleteAction::RefuseTransfer : DeleteAction::OfferHide;
    return DeleteAction::AskDelete;
}

CloseAction closeAction(const NotePaperState& state, bool promptOnDeletion) {
    if (state.sending) return state.transferring ? CloseAction::RefuseTransfer : CloseAction::RefuseDelivery;
    if (state.networkOperation) return CloseAction::Beep;
    return promptOnDeletion ? CloseAction::AskDestroy : CloseAction::Destroy;
}

DropResult dropResult(uint32_t fileCount, bool opened, bool diskFile, bool received) {
    if (fileCount > 1) return DropResult::TooMany;
    if (!opened) return DropResult::NotOpened;
    if (!diskFile) return DropResult::NotDiskFile;
    return received ? DropResult::ReplyWithFile : DropResult::Attach;
}

bool attachmentMayMove(const TextString& folder, const TextString& receiveFolder) {
    const TextString a = folder.collapseSeparator('\\').lowerCased();
    const TextString b = receiveFolder.collapseSeparator('\\').lowerCased();
    return !a.isEmpty() && std::string(a.c_str()) == b.c_str();
}

SendCheck sendCheck(bool hasAttachment, const TextString& attachmentError, uint64_t attachmentSize, bool connected,
                    const char* peerName) {
    SendCheck check;
    if (hasAttachment && !attachmentError.isEmpty()) {
        check.text = TextString("Cannot deliver this note.\nReason: ") + attachmentError;
    } else if (hasAttachment && attachmentSize == 0) {
        check.text = "Cannot deliver this note.\nThe attached file is empty.";
    } else if (!connected && !IsDottedAddress(peerName)) {
        check.text = "You will need to be connected to a server to send this note.\nWould you like to connnect now?";
        check.askConnect = true;
    }
    return check;
}

} // namespace vp
