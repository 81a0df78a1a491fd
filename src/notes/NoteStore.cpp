#include "notes/NoteStore.h"

#include "app/MessageService.h"
#include "platform/File.h"

#include <cstdio>
#include <memory>
#include <new>
#include <vector>

namespace vp {

namespace {

const char kCorruptedQuestion[] =
    "Cannot load notes -- the file is corrupted.\n\nWould you like to abandon these notes and continue?";
const char kNewerQuestion[] =
    "Cannot load notes saved by a newer version of VELLUMPOST.\n\nWould you like to abandon these notes and continue?";
const char kMemoryQuestion[] =
    "Cannot bring up some saved notes -- possibly out of memory.\n\nWould you like to abandon these notes and continue?";

// OK abandons the notes and goes on (1); Cancel stops (0).
uint32_t askAbandon(const char* question) {
    return ask(kNoOwner, question, kMbOkCancel) == kIdOk ? 1 : 0;
}

TextString underUser(const TextString& userFolder, const char* relative) {
    return (userFolder + relative).collapseSeparator('\\');
}

// The notes on the desktop (those with a window, which the UI owns), taken
// under the lock so that the caller may call into windows and delete notes
// without holding it. Notes without a window belong to whoever made them (a
// reply being composed, a note being received) and are never deleted here.
// Throws std::bad_alloc; the public operations catch it before they touch a
// window.
std::vector<NoteRecord*> windowedNotes() {
    NoteList& list = NoteList::instance();
    std::vector<NoteRecord*> notes;
    SemaphoreLock guard(list.lock());
    for (NoteRecord* note = list.first(); note; note = list.next(*note)) {
        if (note->window()) notes.push_back(note);
    }
    return notes;
}

// A fresh record, or null when memory ran out.
std::unique_ptr<NoteRecord> newRecord() {
    return std::unique_ptr<NoteRecord>(new (std::nothrow) NoteRecord);
}

} // namespace

NoteStore::NoteStore(const TextString& userFolder, NoteStorePort& port, NoteOptions* options)
    : m_port(port),
      m_options(options),
      m_userFolder(userFolder),
      m_desktopPath(underUser(userFolder, "\\Notes\\DesktopNotes.nts")),
      m_newPath(underUser(userFolder, "\\Notes\\NewNotes.nts")),
      m_hiddenPath(underUser(userFolder, "\\Notes\\HiddenNotes.nts")),
      m_tempNewPath(underUser(userFolder, "\\Notes\\TempNew.nts")),
      m_tempHiddenPath(underUser(userFolder, "\\Notes\\TempHidden.nts")),
      m_countPath(underUser(userFolder, "\\Notes\\NotesCount.cnt")),
      m_tempDesktopPath(underUser(userFolder, "\\Notes\\TempDesktop.nts")),
      m_tempCountPath(underUser(userFolder, "\\Notes\\TempCount.cnt")) {}

uint32_t NoteStore::StartNotes() {
    m_port.loadRichEdit();
    m_port.registerNoteClass();
    LoadCounts();
    const uint32_t available = NewNoteCount() != 0 ? 1 : 0;
    if (m_options) m_options->SetInt(NoteOptions::kNewNotesAvailable, available);
    m_port.setNewNotesAvailable(available);

    // Notes of older releases are read once and their files removed.
    const TextString oldest = underUser(m_userFolder, "\\VELLUMPOST.nts");
    {
        RecordFile file;
        if (file.Open(oldest, RecordFile::kReading)) {
            LoadDesktopNotes(file);
            file.Close();
            platform::deleteFile(oldest.c_str());
        }
    }
    const TextString all = underUser(m_userFolder, "\\Notes\\All.nts");
    {
        RecordFile file;
        if (file.Open(all, RecordFile::kReading)) {
            const uint32_t loaded = LoadDesktopNotes(file);
            file.Close();
            platform::deleteFile(all.c_str());
            if (loaded) return 1;
        }
    }
    RecordFile file;
    if (file.Open(m_desktopPath, RecordFile::kReading)) LoadDesktopNotes(file);
    return 1;
}

void NoteStore::StopNotes() {
    SaveDesktopNotes(m_desktopPath);
    m_port.unregisterNoteClass();
    SaveCounts();
    m_port.unloadRichEdit();
}

uint32_t NoteStore::LoadDesktopNotes(RecordFile& file) {
    float version = 0;
    if (!readNoteVersion(file, version)) return askAbandon(kCorruptedQuestion);
    NoteLayout layout;
    if (version == kDesktopNotesVersion) layout = NoteLayout::Current;
    else if (version == kOldDesktopNotesVersion) layout = NoteLayout::Old199;
    else if (version > kOldDesktopNotesVersion && version < 99.99f) return askAbandon(kNewerQuestion);
    else return askAbandon(kCorruptedQuestion);

    for (;;) {
        std::unique_ptr<NoteRecord> note = newRecord();
        if (!note) return askAbandon(kMemoryQuestion);
        // A note that cannot be read ends the file; the notes before it stay.
        if (!readNote(file, *note, layout)) return 1;
        note->visible = 1;
        m_port.openNote(note.release());
    }
}

uint32_t NoteStore::SaveDesktopNotes(const TextString& path) {
    const TextString temporary = path == m_desktopPath ? m_tempDesktopPath : path + ".tmp";
    // The old file is replaced only by a complete new one.
    const uint32_t replaced = RecordFile::saveAtomically(path, temporary, [&](RecordFile& file) {
        if (!writeNoteVersion(file)) return false;
        NoteList& list = NoteList::instance();
        // The one place that calls into windows under the lock: the notes
        // must not change while they are written.
        SemaphoreLock guard(list.lock());
        for (NoteRecord* note = list.first(); note; note = list.next(*note)) {
            if (!note->window()) continue;
            note->EnsureWindow();
            if (!writeNote(file, *note)) return false;
        }
        return true;
    });

    std::vector<NoteRecord*> notes;
    try {
        notes = windowedNotes();
    } catch (const std::bad_alloc&) {
        return 0;  // saved, but the notes stay on the desktop
    }
    for (NoteRecord* note : notes) note->window()->hide();
    for (NoteRecord* note : notes) m_port.deleteNote(note);
    return replaced;
}

// A note kept for later is announced by the new-notes indication at once,
// not only at the next start.
uint32_t NoteStore::AppendToNewNotes(const NoteRecord& note) {
    if (!append(note, m_newPath, m_tempNewPath, NoteCounter::New)) return 0;
    m_port.setNewNotesAvailable(1);
    return 1;
}

uint32_t NoteStore::AppendToHiddenNotes(const NoteRecord& note) {
    return append(note, m_hiddenPath, m_tempHiddenPath, NoteCounter::Hidden);
}

// The file's notes are copied into the temporary file with the new note at
// its end, and the copy replaces the file in one rename: a failure at any
// point leaves the file as it was. The notes are read one by one, as the
// loader reads them, to find where the last whole note ends; a cut or damaged
// note behind it is left out. What comes before it is copied in blocks.
uint32_t NoteStore::append(const NoteRecord& note, const TextString& path, const TextString& temporary,
                           NoteCounter counter) {
    const uint32_t replaced = RecordFile::saveAtomically(path, temporary, [&](RecordFile& target) {
        // The source is closed when this returns, before the rename replaces it.
        RecordFile source;
        if (source.Open(path, RecordFile::kReading)) {
            uint64_t wholeNotesEnd = source.recordsEnd();
            if (std::unique_ptr<NoteRecord> scratch = newRecord()) {
                while (readNote(source, *scratch)) wholeNotesEnd = source.recordsEnd();
            }
            if (!target.copyRecords(source, wholeNotesEnd)) return false;
        }
        return writeNote(target, note) != 0;
    });
    if (!replaced) return 0;
    NoteList::instance().incrementCounter(counter);
    return 1;
}

uint32_t NoteStore::ShowNewNotes() {
    return showFile(m_newPath, NoteCounter::New);
}

uint32_t NoteStore::ShowHiddenNotes() {
    return showFile(m_hiddenPath, NoteCounter::Hidden);
}

uint32_t NoteStore::showFile(const TextString& path, NoteCounter counter) {
    std::vector<std::unique_ptr<NoteRecord>> notes;
    // Out of memory, the notes read are destroyed and the file stays.
    try {
        RecordFile file;
        if (!file.Open(path, RecordFile::kReading)) return 0;
        for (;;) {
            std::unique_ptr<NoteRecord> note = newRecord();
            if (!note) return 0;
            if (!readNote(file, *note)) break;
            notes.push_back(std::move(note));
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    for (auto& note : notes) m_port.openNote(note.release());
    platform::deleteFile(path.c_str());
    NoteList::instance().clearCounter(counter);
    SaveCounts();
    return 1;
}

// A note leaves the desktop only once it is safely in the hidden-notes file.
void NoteStore::HideAllNotes() {
    std::vector<NoteRecord*> notes;
    try {
        notes = windowedNotes();
    } catch (const std::bad_alloc&) {
        return;
    }
    for (NoteRecord* note : notes) {
        note->EnsureWindow();
        if (AppendToHiddenNotes(*note)) m_port.deleteNote(note);
    }
}

void NoteStore::DeleteDesktopNotes() {
    std::vector<NoteRecord*> notes;
    std::vector<NoteRecord*> shown;
    try {
        notes = windowedNotes();
        shown.reserve(notes.size());
    } catch (const std::bad_alloc&) {
        return;
    }
    for (NoteRecord* note : notes) {
        // The flag is read before hiding, which clears it in the window.
        if (note->visible) shown.push_back(note);
        note->window()->hide();
    }
    for (NoteRecord* note : shown) m_port.deleteNote(note);
}

uint32_t NoteStore::LoadCounts() {
    RecordFile file;
    if (!file.Open(m_countPath, RecordFile::kReading)) return 0;
    uint32_t marker = 0;
    uint32_t newCount = 0;
    uint32_t desktopCount = 0;
    uint32_t hiddenCount = 0;
    if (!file.readUint32(marker) || marker != kCountMarker || !file.readUint32(newCount) ||
        !file.readUint32(desktopCount) || !file.readUint32(hiddenCount)) {
        return 0;
    }
    NoteList::instance().setCounts({newCount, desktopCount, hiddenCount});
    return 1;
}

uint32_t NoteStore::SaveCounts() {
    const NoteCounts counts = NoteList::instance().counts();
    return RecordFile::saveAtomically(m_countPath, m_tempCountPath, [&](RecordFile& file) {
        return file.writeUint32(kCountMarker) && file.writeUint32(counts.newNotes) &&
               file.writeUint32(counts.desktopNotes) && file.writeUint32(counts.hiddenNotes);
    });
}

uint32_t NoteStore::NewNoteCount() const {
    return NoteList::instance().counts().newNotes;
}

uint32_t NoteStore::DesktopNoteCount() const {
    return NoteList::instance().recountDesktop();
}

uint32_t NoteStore::HiddenNoteCount() const {
    return NoteList::instance().counts().hiddenNotes;
}

// Each number right-aligned in three columns, as "%3ld" prints it; counts
// read from the count file may be large, so the sum is taken in 64 bits. The
// text is made in place, so that only the result needs memory.
TextString NoteStore::statisticsText() const {
    const unsigned long long n = NewNoteCount();
    const unsigned long long d = DesktopNoteCount();
    const unsigned long long h = HiddenNoteCount();
    const unsigned long long t = n + d + h;
    char text[256];  // four numbers of at most 20 digits and the words
    std::snprintf(text, sizeof text, "Statistics\n%3llu %s\n%3llu %s\n%3llu %s\n_____________________\n%3llu %s", n,
                  n < 2 ? "new note" : "new notes", d, d < 2 ? "desktop note" : "desktop notes", h,
                  h < 2 ? "hidden note" : "hidden notes", t, t < 2 ? "note in total" : "notes in total");
    return TextString(text);
}

void NoteStore::ShowStatistics() const {
    showInfo(statisticsText().c_str());
}

} // namespace vp
