#include "notes/NoteFile.h"

#include <cstring>

namespace vp {

namespace {

void putInt32(uint8_t* at, int32_t value) {
    const uint32_t bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(bits >> (8 * i));
}

int32_t getInt32(const uint8_t* at) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(at[i]) << (8 * i);
    return static_cast<int32_t>(bits);
}

uint32_t writeRect(RecordFile& file, const NoteRect& rect) {
    uint8_t bytes[16];
    putInt32(bytes, rect.left);
    putInt32(bytes + 4, rect.top);
    putInt32(bytes + 8, rect.right);
    putInt32(bytes + 12, rect.bottom);
    return file.WriteRecord(bytes, sizeof bytes);
}

uint32_t readRect(RecordFile& file, NoteRect& rect) {
    uint8_t bytes[16];
    if (file.NextLength() != sizeof bytes || !file.ReadRecord(bytes, sizeof bytes)) return 0;
    rect.left = getInt32(bytes);
    rect.top = getInt32(bytes + 4);
    rect.right = getInt32(bytes + 8);
    rect.bottom = getInt32(bytes + 12);
    return 1;
}

// After the last record the file reports a next length of 0, which is also
// the length of an empty text: a text read there would invent an empty field
// for a note cut short.
bool atEnd(const RecordFile& file) {
    return file.error() == RecordFile::kErrEnd;
}

uint32_t readTextField(RecordFile& file, TextString& text) {
    return atEnd(file) ? 0 : file.readText(text);
}

// The content is read with the length the file announces; RecordFile has
// already checked that length against the bytes left in the file.
uint32_t readContent(RecordFile& file, ContentBuffer& content) {
    if (atEnd(file)) return 0;
    const uint32_t length = file.NextLength();
    ContentBuffer bytes;
    if (!bytes.allocate(length)) return 0;
    if (!file.ReadRecord(bytes.data(), length)) return 0;
    content = std::move(bytes);
    return 1;
}

} // namespace

uint32_t writeNoteVersion(RecordFile& file) {
    const float version = kDesktopNotesVersion;
    uint32_t bits = 0;
    std::memcpy(&bits, &version, sizeof bits);
    return file.writeUint32(bits);
}

uint32_t readNoteVersion(RecordFile& file, float& version) {
    uint32_t bits = 0;
    if (!file.readUint32(bits)) return 0;
    std::memcpy(&version, &bits, sizeof version);
    return 1;
}

uint32_t writeNote(RecordFile& file, const NoteRecord& note) {
    // An empty note has no content buffer; the record still needs a pointer.
    static const char kEmpty = 0;
    const char* content = note.content.data() ? note.content.data() : &kEmpty;
    return file.writeUint32(note.alwaysOnTop) && file.writeUint32(note.visible) && file.writeUint32(note.reserved1) &&
           file.writeUint32(note.reserved2) && file.writeUint32(note.headerShown) &&
           file.writeUint32(note.received) && writeRect(file, note.rect) && file.writeText(note.peerName) &&
           file.writeText(note.attachmentFolder) && file.writeText(note.attachmentName) &&
           file.writeText(note.status) && file.WriteRecord(content, note.content.size());
}

uint32_t readNote(RecordFile& file, NoteRecord& note, NoteLayout layout) {
    if (layout == NoteLayout::Old199) {
        // The fields this layout lacks keep a new note's values.
        return file.readUint32(note.alwaysOnTop) && file.readUint32(note.reserved1) &&
               file.readUint32(note.headerShown) && file.readUint32(note.received) && readRect(file, note.rect) &&
               readTextField(file, note.peerName) && readTextField(file, note.attachmentFolder) &&
               readTextField(file, note.attachmentName) && readContent(file, note.content);
    }
    return file.readUint32(note.alwaysOnTop) && file.readUint32(note.visible) && file.readUint32(note.reserved1) &&
           file.readUint32(note.reserved2) && file.readUint32(note.headerShown) && file.readUint32(note.received) &&
           readRect(file, note.rect) && readTextField(file, note.peerName) && readTextField(file, note.attachmentFolder) &&
           readTextField(file, note.attachmentName) && readTextField(file, note.status) && readContent(file, note.content);
}

} // namespace vp
