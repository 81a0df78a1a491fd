#pragma once
// Whole-file saves that replace the old file in one step: the new content goes
// into a temporary file in the same folder, is pushed to the disk and is then
// renamed over the old file. A crash, a full disk or a failed write at any
// point leaves the old file whole, and a save that fails leaves no temporary
// file behind.

#include "platform/File.h"

#include <cstdint>

namespace vp::platform {

// The one implementation behind the two forms below: write is called once
// with the freshly created temporary file and context, and returns false to
// abandon the save.
bool saveAtomically(const char* path, const char* temporary, bool (*write)(File& file, void* context),
                    void* context);

// Saves path through temporary (a name in path's folder): write(File&) fills
// the temporary file and returns false to abandon the save. true once path
// holds the new content.
template <typename Write>
bool saveAtomically(const char* path, const char* temporary, Write write) {
    return saveAtomically(
        path, temporary, [](File& file, void* context) -> bool { return (*static_cast<Write*>(context))(file); },
        &write);
}

// The same for content that is ready in memory.
bool saveBytesAtomically(const char* path, const char* temporary, const void* bytes, uint32_t count);

} // namespace vp::platform
