#pragma once
// The port through which a note reaches its window. The Win32 note window
// implements it; the record never sees a window handle. Every call comes from
// the thread that owns the window, except where the send work says otherwise.

#include "foundation/TextString.h"

#include <cstdint>

namespace vp {

class NoteRecord;

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
};

// Makes the window for a record that has none (the UI installs it); null
// when none can be made.
using NoteViewFactory = NoteView* (*)(NoteRecord& record);
void setNoteViewFactory(NoteViewFactory factory);
NoteViewFactory noteViewFactory();

} // namespace vp
