#pragma once
// One note as records of a note file, in the current layout (12 records) or
// the old 1.99 layout (9 records, read only), and the version record that
// opens a desktop-notes file.

#include "foundation/RecordFile.h"
#include "notes/NoteRecord.h"

#include <cstdint>

namespace vp {

// The version record's value: the writer always writes 2.11 (3D 0A 07 40).
constexpr float kDesktopNotesVersion = 2.11f;
constexpr float kOldDesktopNotesVersion = 1.99f;

enum class NoteLayout { Current, Old199 };

uint32_t writeNoteVersion(RecordFile& file);
// The 4-byte version record as a float; 0 when it cannot be read.
uint32_t readNoteVersion(RecordFile& file, float& version);

// Writes the 12 records of the current layout. 1 when all were written.
uint32_t writeNote(RecordFile& file, const NoteRecord& note);
// Reads one note into a fresh record. 0 at the end of the file and for a
// record of the wrong length; the record is then half-filled and is dropped
// by the caller.
uint32_t readNote(RecordFile& file, NoteRecord& note, NoteLayout layout = NoteLayout::Current);

} // namespace vp
