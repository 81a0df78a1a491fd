// The attached file: mapped read-only while it is sent, written into the
// receive folder while it arrives, and removed from there on request.

#include "notes/NoteRecord.h"
#include "platform/FileName.h"

#include <memory>
#include <new>
#include <string>
#include <string_view>

namespace vp {

namespace {

// The platform's mapping reports no error code of its own; the sender only
// needs to know that it failed, and shows the system's text for this one
// ("file not found" or "access denied" would both be guesses).
constexpr uint32_t kMapFailed = 1;
// Past this many "(n)" names the folder is treated as unusable rather than
// searched without end.
constexpr uint32_t kMaximumNameSuffix = 100000;

// A received name is only a name: whatever folder, drive or device it tries
// to reach, the result is one plain name inside the receive folder.
TextString safeFileName(const TextString& name) {
    const std::string given(name.c_str());
    // Only what follows the last separator or drive colon is the name.
    const std::string::size_type cut = given.find_last_of("\\/:");
    std::string::size_type begin = cut == std::string::npos ? 0 : cut + 1;
    std::string::size_type end = given.size();
    while (begin < end && given[begin] == ' ') ++begin;
    while (end > begin && (given[end - 1] == '.' || given[end - 1] == ' ')) --end;
    std::string text = given.substr(begin, end - begin);
    for (char& c : text) {
        if (platform::isUnsafeNameCharacter(static_cast<unsigned char>(c))) c = '_';
    }
    if (text.empty()) text = "attachment";
    // A device name ("CON", "LPT1.txt") would open the device, not a file.
    if (platform::isDeviceName(text)) return TextString("_") + text.c_str();
    return TextString(text.c_str());
}

} // namespace

uint32_t NoteRecord::MapAttachment(uint32_t& error) {
    error = 0;
    if (m_mapped) return 1;
    if (m_window && !EnsureWindow()) {
        error = kMapFailed;
        return 0;
    }
    if (attachmentFolder.isEmpty()) return 0;
    const TextString path = attachmentFolder + attachmentName;
    m_mapping = platform::FileMapping::mapReadOnly(path.c_str());
    if (!m_mapping.isValid()) {
        error = kMapFailed;
        return 0;
    }
    m_mapped = true;
    return 1;
}

void NoteRecord::UnmapAttachment() {
    m_mapping.reset();
    m_mapped = false;
}

uint64_t NoteRecord::AttachmentSize() const {
    return m_mapped ? m_mapping.size() : 0;
}

uint32_t NoteRecord::OpenIncomingAttachment(const TextString& receiveFolder) {
    if (m_incoming || attachmentName.isEmpty()) return 0;
    const TextString folder = receiveFolder.collapseSeparator('\\');
    if (folder.isEmpty()) return 0;
    // The name is worked out in full before the file is made, so that running
    // out of memory leaves nothing behind.
    try {
        const TextString safe = safeFileName(attachmentName);
        if (!safe.isValid()) return 0;
        const std::string name(safe.c_str());
        const std::string::size_type dot = name.rfind('.');
        const std::string base = name.substr(0, dot);
        const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
        std::string stored = base + extension;
        TextString candidate = (folder + "\\" + stored.c_str()).collapseSeparator('\\');
        for (uint32_t n = 1; RawFile::Exists(candidate); ++n) {
            if (n > kMaximumNameSuffix) return 0;
            stored = base + "(" + std::to_string(n) + ")" + extension;
            candidate = (folder + "\\" + stored.c_str()).collapseSeparator('\\');
        }
        TextString storedFolder = folder + "\\";
        TextString storedName(stored.c_str());
        if (!storedFolder.isValid() || !storedName.isValid()) return 0;
        auto file = std::make_unique<RawFile>(candidate, RawFile::kWrite);
        if (!file->IsOpen()) return 0;
        attachmentFolder = std::move(storedFolder);
        attachmentName = std::move(storedName);
        m_incoming = std::move(file);
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

uint32_t NoteRecord::WriteIncomingAttachment(const void* bytes, uint32_t count) {
    if (!m_incoming) return 0;
    return m_incoming->Write(bytes, count);
}

uint32_t NoteRecord::CloseIncomingAttachment() {
    if (!m_incoming) return 0;
    m_incoming->close();
    m_incoming.reset();
    return 1;
}

// Only a file the receive folder holds is ever deleted, and only under its
// exact name: collapsing spaces in the path, as older versions did, could
// name a different file ("a  b.txt" would delete "a b.txt").
void NoteRecord::RemoveAttachment(const TextString& receiveFolder) {
    const TextString folder = attachmentFolder.collapseSeparator('\\');
    const std::string_view name(attachmentName.data(), attachmentName.length());
    if (!folder.isEmpty() && folder == receiveFolder.collapseSeparator('\\') && platform::isPlainName(name)) {
        const TextString path = folder + "\\" + attachmentName;
        platform::deleteFile(path.c_str());
    }
    attachmentFolder = "";
    attachmentName = "";
}

} // namespace vp
