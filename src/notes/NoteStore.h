#pragma once
// The note files under the user folder: the desktop notes saved at exit and
// loaded at start, the new-notes and hidden-notes files that notes wait in,
// and the count file that announces waiting notes at start-up.
//
// The windows are reached through NoteStorePort: the main window opens a
// window for a note handed to it and deletes a note it is asked to delete.
// Question and information boxes go through the message service.

#include "foundation/TextString.h"
#include "notes/NoteFile.h"
#include "notes/NoteRecord.h"
#include "settings/NoteOptions.h"

#include <cstdint>

namespace vp {

class NoteStorePort {
public:
    virtual ~NoteStorePort() = default;
    // The main window takes the note and opens its window (message 1537).
    virtual void openNote(NoteRecord* note) = 0;
    // The main window deletes the note and its window (message 1539).
    virtual void deleteNote(NoteRecord* note) = 0;
    // The UI's own steps of start and stop: the rich-edit library, the note
    // window class, and the tray icon's new-notes state.
    virtual void loadRichEdit() {}
    virtual void unloadRichEdit() {}
    virtual void registerNoteClass() {}
    virtual void unregisterNoteClass() {}
    virtual void setNewNotesAvailable(uint32_t available) { (void)available; }
};

class NoteStore {
public:
    static constexpr uint32_t kCountMarker = 310;

    // userFolder: the Application's user folder, in the system's form.
    // options, when given, receives NewNotesAvailable at start.
    NoteStore(const TextString& userFolder, NoteStorePort& port, NoteOptions* options = nullptr);

    // Start: counts, the new-notes flag, the upgrade files, the desktop notes.
    uint32_t StartNotes();
    // Stop: saves the desktop notes (destroying them) and the counts.
    void StopNotes();

    // Reads a desktop-notes file opened for reading. 1 to go on, 0 when the
    // user chose Cancel in a question box.
    uint32_t LoadDesktopNotes(RecordFile& file);
    // Writes every note with a window to path through a temporary file that
    // replaces it only once it is complete, then destroys every note. 1 when
    // the file was replaced.
    uint32_t SaveDesktopNotes(const TextString& path);

    uint32_t AppendToNewNotes(const NoteRecord& note);
    uint32_t AppendToHiddenNotes(const NoteRecord& note);
    uint32_t ShowNewNotes();
    uint32_t ShowHiddenNotes();
    void HideAllNotes();
    void DeleteDesktopNotes();

    uint32_t LoadCounts();
    uint32_t SaveCounts();
    uint32_t NewNoteCount() const;
    uint32_t DesktopNoteCount() const;
    uint32_t HiddenNoteCount() const;
    // "Statistics\n  1 new note\n..." as ShowStatistics shows it.
    TextString statisticsText() const;
    void ShowStatistics() const;

    const TextString& desktopNotesPath() const { return m_desktopPath; }
    const TextString& newNotesPath() const { return m_newPath; }
    const TextString& hiddenNotesPath() const { return m_hiddenPath; }
    const TextString& countPath() const { return m_countPath; }

private:
    uint32_t append(const NoteRecord& note, const TextString& path, const TextString& temporary, NoteCounter counter);
    uint32_t showFile(const TextString& path, NoteCounter counter);

    NoteStorePort& m_port;
    NoteOptions* m_options;
    TextString m_userFolder;
    TextString m_desktopPath;
    TextString m_newPath;
    TextString m_hiddenPath;
    TextString m_tempNewPath;
    TextString m_tempHiddenPath;
    TextString m_countPath;
    TextString m_tempDesktopPath;
    TextString m_tempCountPath;
};

} // namespace vp
