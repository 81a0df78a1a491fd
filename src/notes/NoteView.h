#pragma once
// The port through which a note reaches its window. The Win32 note window
// implements it; the record never sees a window handle. Every call comes from
// the thread that owns the window, except where the send work says otherwise.

#include "foundation/TextString.h"

#include <cstdint>
#include <memory>

namespace vp {

class NoteRecord;
class TcpSocket;

class NoteView {
public:
    virtual ~NoteView() = default;

    // The status line: it holds the truth while the window exists.
    virtual void setStatusText(const TextString& text) = 0;
    virtual TextString statusText() = 0;
    // Replaces the status line by label + ": " + its time part.
    virtual void labelStatus(const TextString& label) = 0;
    // Sending state on (read-only, "Stop") or off.
    virtual void setSending(uint32_t on) = 0;
    // Copies the window's text, place, flags, name field and attachment strip
    // into the record. 0 when the text cannot be copied.
    virtual uint32_t pullState() = 0;
    // The attachment strip: whether it holds a file, and putting it back.
    virtual uint32_t hasAttachment() = 0;
    virtual void resetAttachmentView() = 0;
    // Shows the header strip (Send/Reply button and name field).
    virtual void showHeader() = 0;
    // Visibility of the window.
    virtual void show() = 0;
    virtual void hide() = 0;
    // The record is going away: the window closes without touching it again.
    virtual void destroyWindow() = 0;

    // Called from the thread that sends or receives the note. A send's
    // network operation started on socket (outside an attachment transfer
    // the window's Stop closes it), and ended.
    virtual void networkOperationStarted(TcpSocket& socket) = 0;
    virtual void networkOperationEnded() = 0;
    // The note is arriving on socket (the window is read-only and its Stop
    // closes the socket), and has arrived or failed.
    virtual void receivingStarted(TcpSocket& socket) = 0;
    virtual void receivingEnded() = 0;
};

// The main window as the notes see it.
class NoteDesktopPort {
public:
    virtual ~NoteDesktopPort() = default;
    // Shows an arrived note on the desktop: the desktop takes the record
    // over and makes its window. The receiving thread goes on using the
    // record until its reception ends; the desktop does not destroy it
    // before it asks to.
    virtual void showArrivedNote(std::unique_ptr<NoteRecord> note) = 0;
    // Discards a note the desktop holds, with its window.
    virtual void deleteNote(NoteRecord& note) = 0;
};

// Makes the window for a record that has none (the UI installs it); null
// when none can be made.
using NoteViewFactory = NoteView* (*)(NoteRecord& record);
void setNoteViewFactory(NoteViewFactory factory);
NoteViewFactory noteViewFactory();

} // namespace vp
