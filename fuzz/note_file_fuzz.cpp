// A note file as it lies on disk: the record file under it, the version
// record, and notes in both layouts (the first input byte picks the layout).

#include "FuzzFolder.h"
#include "foundation/RecordFile.h"
#include "notes/NoteFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vp;
    if (size == 0) return 0;
    const NoteLayout layout = data[0] & 1 ? NoteLayout::Old199 : NoteLayout::Current;
    const std::filesystem::path path = fuzz::folder() / "notes.nts";
    fuzz::writeInput(path, data + 1, size - 1);

    RecordFile file(path.string().c_str(), RecordFile::kReading);
    float version = 0;
    if (!file.IsOpen() || (layout == NoteLayout::Current && !readNoteVersion(file, version))) return 0;
    for (int notes = 0; notes < 1000; ++notes) {
        auto note = std::make_unique<NoteRecord>();
        if (!readNote(file, *note, layout)) break;
    }
    return 0;
}
