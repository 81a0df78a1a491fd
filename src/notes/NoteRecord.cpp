#include "notes/NoteRecord.h"

#include <atomic>
#include <cstring>

namespace vp {

namespace {

std::atomic<NoteViewFactory> g_viewFactory{nullptr};

} // namespace

void setNoteViewFactory(NoteViewFactory factory) {
    g_viewFactory.store(factory);
}

NoteViewFactory noteViewFactory() {
    return g_viewFactory.load();
}

NoteRecord::NoteRecord() : status("Ready") {
    enterList();
}

NoteRecord::NoteRecord(const TextString& peer) : status("Ready"), peerName(peer) {
    enterList();
}

void NoteRecord::enterList() {
    NoteList& list = NoteList::instance();
    rect = list.placeNew();
    SemaphoreLock guard(list.lock());
    list.add(*this);
}

NoteRecord::~NoteRecord() {
    UnmapAttachment();
    m_payload.reset();
    {
        NoteList& list = NoteList::instance();
        SemaphoreLock guard(list.lock());
        list.remove(*this);
    }
    if (m_window) {
        NoteView* view = m_window;
        m_window = nullptr;
        view->destroyWindow();
    }
}

// Centred on the screen with this record's own size, as a reply that does not
// quote its source.
void NoteRecord::Center(const NoteRecord& source) {
    NoteList& list = NoteList::instance();
    const platform::ScreenSize screen = list.screen();
    const uint32_t width = rect.width();
    const uint32_t height = rect.height();
    rect.place((screen.width - width) / 2, (screen.height - height) / 2, width, height);
    list.advanceCascade();
    reserved1 = source.reserved1;
    reserved2 = source.reserved2;
    alwaysOnTop = source.alwaysOnTop;
    peerName = source.peerName;
    visible = 1;
    headerShown = 1;
    received = 0;
    attachmentFolder = "";
    attachmentName = "";
    status = "Ready";
}

void NoteRecord::SetAttachment(const TextString& fullPath) {
    const char* text = fullPath.c_str();
    const char* lastSlash = std::strrchr(text, '\\');
    const uint32_t split = lastSlash ? static_cast<uint32_t>(lastSlash - text) + 1 : 0;
    attachmentFolder = TextString(text, split);
    attachmentName = TextString(text + split, static_cast<uint32_t>(std::strlen(text + split)));
    if (!headerShown) {
        if (m_window) m_window->showHeader();
        headerShown = 1;
    }
}

uint32_t NoteRecord::HasAttachment() const {
    if (m_window) return m_window->hasAttachment() ? 1 : 0;
    return attachmentName.isEmpty() ? 0 : 1;
}

void NoteRecord::SetStatus(const TextString& text) {
    status = text;
    if (m_window) m_window->setStatusText(status);
}

const TextString& NoteRecord::GetStatus() {
    if (m_window) status = m_window->statusText();
    return status;
}

void NoteRecord::LabelStatus(const TextString& label) {
    if (m_window) {
        m_window->labelStatus(label);
        return;
    }
    const TextString timePart = statusTimePart(status);
    status = timePart.isEmpty() ? label + ": sometime ago." : label + ": " + timePart;
}

uint32_t NoteRecord::EnsureWindow() {
    if (m_window) return m_window->pullState() ? 1 : 0;
    const NoteViewFactory factory = noteViewFactory();
    m_window = factory ? factory(*this) : nullptr;
    return m_window ? 1 : 0;
}

TextString statusTimePart(const TextString& status) {
    const char* text = status.c_str();
    const uint32_t length = static_cast<uint32_t>(std::strlen(text));
    for (uint32_t i = 0; i + 2 < length; ++i) {
        const char c = text[i];
        const char digit = text[i + 1];
        if ((c == '0' || c == '1' || c == '2') && digit >= '0' && digit <= '9' && text[i + 2] == ':') {
            return TextString(text + i, length - i);
        }
    }
    return TextString();
}

} // namespace vp
