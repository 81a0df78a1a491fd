// What the note window decides, without the window: where its parts go,
// how far it may be resized, what its name field stores, and what the
// button, Esc, the close box and a dropped file do in each state. The
// Windows note window draws and acts on these.
#pragma once

#include "foundation/TextString.h"
#include "notes/NoteList.h"

#include <cstdint>

namespace vp {

inline constexpr int32_t kTitleHeight = 20;
inline constexpr int32_t kHeaderHeight = 25;
inline constexpr int32_t kMinimumNoteWidth = 93;
inline constexpr uint32_t kBodyCharacterLimit = 20480;
inline constexpr uint32_t kNameFieldLimit = 100;

// The parts of a note window of width w and height h (window coordinates).
struct NotePaperLayout {
    NoteRect title;
    NoteRect closeBox;
    NoteRect headerToggle;    // where a click toggles the header strip
    NoteRect headerToggleIcon;  // where its icon is drawn (left, top)
    NoteRect grip;
    NoteRect button;
    NoteRect nameField;
    NoteRect body;
    NoteRect attachment;
    NoteRect status;
    int32_t headerHeight = 0;
};

NotePaperLayout notePaperLayout(int32_t width, int32_t height, bool headerShown, bool hasAttachment);

// A size the user drags to, kept between the least size (93 wide; the
// header, the title and a line of body high) and the screen.
struct NoteSize {
    int32_t width;
    int32_t height;
};
NoteSize limitNoteSize(NoteSize wanted, int32_t headerHeight, NoteSize screen);

// The name field as stored: its first 256 characters, runs of spaces made
// one, trimmed, A-Z in lower case.
TextString notePeerName(const char* fieldText);
// The window's title for a name field text.
TextString noteTitle(const char* fieldText);

// What the note's state is when the user acts.
struct NotePaperState {
    bool received = false;
    bool sending = false;
    bool networkOperation = false;  // a socket of this note is in use
    bool transferring = false;      // an attachment is being sent
};

enum class ButtonAction {
    StopTransfer,        // the attachment transfer stops at its next block
    CloseSendSocket,     // message 1029
    CloseReceiveSocket,  // message 1026
    Reply,
    Send,
};
ButtonAction buttonAction(const NotePaperState& state);

// Esc and the system's close command.
enum class DeleteAction {
    Beep,              // refused without a word
    RefuseTransfer,    // kTransferDeleteText
    OfferHide,         // kDeliveryHideQuestion: OK hides the note
    AskDelete,         // kDeleteQuestion: OK deletes
};
DeleteAction deleteAction(const NotePaperState& state);

// The close box. While a received note is still arriving its record is in
// use by the reception, so the close box is refused as Esc is.
enum class CloseAction {
    RefuseTransfer,  // kTransferDeleteText
    RefuseDelivery,  // kDeliveryCloseText
    AskDestroy,      // kCloseBoxQuestion: OK destroys
    Destroy,
    Beep,
};
CloseAction closeAction(const NotePaperState& state, bool promptOnDeletion);

// Files dropped onto the note.
enum class DropResult {
    TooMany,       // kTooManyFilesText
    NotOpened,     // kCannotDropObjectText + the system's text
    NotDiskFile,   // kCannotDropFileText + the system's text
    ReplyWithFile, // a reply note carries the file
    Attach,        // the note carries the file (replacing one it had)
};
DropResult dropResult(uint32_t fileCount, bool opened, bool diskFile, bool received);

// Dragging the attachment out of the note: a file in the folder of received
// attachments may be moved (and then leaves the note); any other file is
// only copied. Folders compare without regard to letter case or doubled
// backslashes.
bool attachmentMayMove(const TextString& folder, const TextString& receiveFolder);

// Send refused before it starts: the text to show (the question when
// askConnect), or nothing. attachmentError is the system's text of a file
// that does not open, empty when it opened.
struct SendCheck {
    TextString text;
    bool askConnect = false;
    bool refused() const { return !text.isEmpty(); }
};
SendCheck sendCheck(bool hasAttachment, const TextString& attachmentError, uint64_t attachmentSize, bool connected,
                    const char* peerName);

inline constexpr char kTransferDeleteText[] =
    "Cannot delete this note during a file transfer.\nPlease press the 'Stop' button to cancel the operation.";
inline constexpr char kDeliveryHideQuestion[] =
    "Cannot delete this note while attempting a note delivery.\nWould you like to hide this note instead?";
inline constexpr char kDeliveryCloseText[] =
    "Cannot delete this note while attempting a note delivery.\nPlease stop the note delivery first.";
inline constexpr char kDeleteQuestion[] = "Okay to delete this note?";
inline constexpr char kCloseBoxQuestion[] =
    "Okay to delete this note?\n(Uncheck the \"Prompt On Note Delete\" option in the Options Box to disable this "
    "message)";
inline constexpr char kTooManyFilesText[] = "Each note can associate with at most 1 file(s).";
inline constexpr char kCannotDropObjectText[] = "You cannot drop this object onto the note.\nWindows: ";
inline constexpr char kCannotDropFileText[] = "You cannot drop this file onto the note.\nWindows: ";
inline constexpr char kNoReplyMemoryText[] =
    "Sorry.  Cannot create a new note at this point.\nPossible reason: not enough memory.\n\nPlease close some "
    "applications and try again.";
inline constexpr char kCannotHideText[] = "Cannot hide this note.";
inline constexpr char kEmptyNoteText[] = "The note is empty.";
inline constexpr char kOverwriteQuestion[] = "Do you really want to overwrite the content of this note?";
inline constexpr char kFileLoadedText[] = "The file has been loaded";

} // namespace vp
