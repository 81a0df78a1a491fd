#include "notes/NoteList.h"

#include "notes/NoteRecord.h"

namespace vp {

NoteList& NoteList::instance() {
    static NoteList list;
    return list;
}

NoteRecord* NoteList::next(const NoteRecord& record) const {
    return record.m_next;
}

void NoteList::add(NoteRecord& record) {
    record.m_previous = m_last;
    record.m_next = nullptr;
    if (m_last) m_last->m_next = &record;
    else m_first = &record;
    m_last = &record;
    ++m_count;
}

void NoteList::remove(NoteRecord& record) {
    if (record.m_previous) record.m_previous->m_next = record.m_next;
    else if (m_first == &record) m_first = record.m_next;
    else return;  // not in the list
    if (record.m_next) record.m_next->m_previous = record.m_previous;
    else m_last = record.m_previous;
    record.m_previous = record.m_next = nullptr;
    --m_count;
}

uint32_t& NoteList::counterLocked(NoteCounter which) {
    switch (which) {
    case NoteCounter::New: return m_counts.newNotes;
    case NoteCounter::Desktop: return m_counts.desktopNotes;
    case NoteCounter::Hidden: break;
    }
    return m_counts.hiddenNotes;
}

NoteCounts NoteList::counts() {
    SemaphoreLock guard(m_lock);
    return m_counts;
}

void NoteList::setCounts(const NoteCounts& counts) {
    SemaphoreLock guard(m_lock);
    m_counts = counts;
}

void NoteList::incrementCounter(NoteCounter which) {
    SemaphoreLock guard(m_lock);
    ++counterLocked(which);
}

void NoteList::clearCounter(NoteCounter which) {
    SemaphoreLock guard(m_lock);
    counterLocked(which) = 0;
}

uint32_t NoteList::recountDesktop() {
    SemaphoreLock guard(m_lock);
    m_counts.desktopNotes = m_count;
    return m_counts.desktopNotes;
}

void NoteList::ensureScreen() {
    if (m_screenKnown) return;
    m_screen = platform::maximizedWindowSize();
    m_x = m_screen.width;
    m_y = m_screen.height;
    m_screenKnown = true;
}

platform::ScreenSize NoteList::screen() {
    std::lock_guard<std::mutex> guard(m_cascadeMutex);
    ensureScreen();
    return m_screen;
}

void NoteList::resetCascade(platform::ScreenSize size) {
    std::lock_guard<std::mutex> guard(m_cascadeMutex);
    m_screen = size;
    m_x = size.width;
    m_y = size.height;
    m_screenKnown = true;
}

// The cursor steps 10 right and 5 down and wraps within the band from 35% to
// 65% of the screen, all in unsigned 32-bit arithmetic as the notes have
// always been placed.
void NoteList::advanceLocked() {
    const uint32_t a = static_cast<uint32_t>(0.35 * m_screen.width);
    const uint32_t b = static_cast<uint32_t>(0.3 * m_screen.width);
    const uint32_t c = static_cast<uint32_t>(0.35 * m_screen.height);
    const uint32_t d = static_cast<uint32_t>(0.3 * m_screen.height);
    // A screen too small for a band (b or d 0) keeps the cursor where it is.
    if (b) m_x = ((m_x + 10u - a) % b) + a;
    if (d) m_y = ((m_y + 5u - c) % d) + c;
}

void NoteList::advanceCascade() {
    std::lock_guard<std::mutex> guard(m_cascadeMutex);
    ensureScreen();
    advanceLocked();
}

NoteRect NoteList::placeNew() {
    std::lock_guard<std::mutex> guard(m_cascadeMutex);
    ensureScreen();
    NoteRect rect;
    rect.left = static_cast<int32_t>(m_x < 93 ? m_x : m_x - 92);
    rect.top = static_cast<int32_t>(m_y < 66 ? m_y : m_y - 65);
    rect.right = rect.left + kNewNoteWidth;
    rect.bottom = rect.top + kNewNoteHeight;
    advanceLocked();
    return rect;
}

} // namespace vp
