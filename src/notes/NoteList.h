#pragma once
// The process-wide list of live notes in creation order, its lock and the
// three note counters, and the cascade cursor that places new notes.
//
// The lock guards the list and the counters only. Whoever holds it must not
// call into a note window, except the desktop save loop of the note store.

#include "foundation/Semaphore.h"
#include "platform/Screen.h"

#include <cstdint>
#include <mutex>

namespace vp {

class NoteRecord;

// A window rectangle. Its sizes and its placement wrap in unsigned 32-bit
// arithmetic, as the rectangle of a window does: a peer may send any corners,
// and a note larger than the screen must still be placed in defined steps.
struct NoteRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    uint32_t width() const { return static_cast<uint32_t>(right) - static_cast<uint32_t>(left); }
    uint32_t height() const { return static_cast<uint32_t>(bottom) - static_cast<uint32_t>(top); }
    // Moves the corner to (x, y) and gives the rectangle the size w x h.
    void place(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
        left = static_cast<int32_t>(x);
        top = static_cast<int32_t>(y);
        right = static_cast<int32_t>(x + w);
        bottom = static_cast<int32_t>(y + h);
    }
};

// The three note counters kept with the list.
enum class NoteCounter { New, Desktop, Hidden };

struct NoteCounts {
    uint32_t newNotes = 0;      // new notes waiting in the new-notes file
    uint32_t desktopNotes = 0;  // notes on the desktop
    uint32_t hiddenNotes = 0;   // notes in the hidden-notes file
};

class NoteList {
public:
    static constexpr int32_t kNewNoteWidth = 185;
    static constexpr int32_t kNewNoteHeight = 130;

    static NoteList& instance();

    NoteList(const NoteList&) = delete;
    NoteList& operator=(const NoteList&) = delete;

    // The note-list lock (a semaphore used as a mutex): take it with
    // SemaphoreLock around every use of the members below.
    Semaphore& lock() { return m_lock; }
    NoteRecord* first() const { return m_first; }
    NoteRecord* next(const NoteRecord& record) const;
    uint32_t count() const { return m_count; }

    // The counters. Each of these takes the lock itself, so a holder of the
    // lock must not call them.
    NoteCounts counts();
    void setCounts(const NoteCounts& counts);
    void incrementCounter(NoteCounter which);
    void clearCounter(NoteCounter which);
    // The desktop counter set to the number of live notes; returns it.
    uint32_t recountDesktop();

    // The rectangle of the next new note (185 x 130 at the cursor); advances
    // the cursor.
    NoteRect placeNew();
    // Moves the cursor one step down and right, wrapping inside the screen.
    void advanceCascade();
    // W x H, the size of a maximised window, read once from the platform.
    platform::ScreenSize screen();
    // Starts the cascade again at (W, H) for the given size: for tests and for
    // a change of screen.
    void resetCascade(platform::ScreenSize size);

private:
    friend class NoteRecord;
    NoteList() = default;
    // Called by the record's constructor and destructor; they take the lock.
    void add(NoteRecord& record);
    void remove(NoteRecord& record);
    void ensureScreen();  // the cascade mutex is held
    void advanceLocked();
    uint32_t& counterLocked(NoteCounter which);

    Semaphore m_lock{1, 1};
    NoteRecord* m_first = nullptr;
    NoteRecord* m_last = nullptr;
    uint32_t m_count = 0;
    NoteCounts m_counts;  // guarded by m_lock like the list

    // The cursor is not the list's: a note may be placed by someone holding
    // the note-list lock, so the cursor has its own small lock.
    std::mutex m_cascadeMutex;
    bool m_screenKnown = false;
    platform::ScreenSize m_screen;
    uint32_t m_x = 0;
    uint32_t m_y = 0;
};

} // namespace vp
