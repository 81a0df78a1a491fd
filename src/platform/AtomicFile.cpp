// The save sequence on top of the file seam; the seam's renameOver replaces
// the old file in one step and, on POSIX, syncs the folder so that the new
// name survives a crash too.
#include "platform/AtomicFile.h"

namespace vp::platform {

bool saveAtomically(const char* path, const char* temporary, bool (*write)(File& file, void* context),
                    void* context) {
    File file = File::open(temporary, FileOpen::CreateTruncate, FileShare::Exclusive);
    // Nothing was created: whatever stands under the temporary's name (a
    // folder, a file somebody else holds) is not ours to remove.
    if (!file.isOpen()) return false;
    // The data reach the disk before the rename can make them the file.
    const bool written = write(file, context) && file.flush();
    // Closed before the rename: Windows renames no file that is still open.
    file.close();
    if (written && renameOver(temporary, path)) return true;
    deleteFile(temporary);
    return false;
}

bool saveBytesAtomically(const char* path, const char* temporary, const void* bytes, uint32_t count) {
    return saveAtomically(path, temporary, [bytes, count](File& file) {
        uint32_t transferred = 0;
        return file.write(bytes, count, transferred) && transferred == count;
    });
}

} // namespace vp::platform
