#pragma once
// The registry kept in files, one per hive: the system's store on POSIX, and
// usable anywhere since it only needs the file seam.
//
// A hive file is read when the hive is first used; from then on the store
// holds the hive and writes the whole file after every change (or, for the
// values changed in a batch, once when the batch ends), so one store (one
// process) should own a pair of files at a time. A save goes to
// "<file>.tmp" beside it, is flushed and renamed over the file: a crash while
// saving leaves the old file whole. A change that cannot be saved fails, and
// the hive is read again from its file. A damaged file reads as an empty hive
// and is renamed to "<file>.bad" before the next save replaces it.
//
// File layout, integers 4-byte little-endian:
//   "Vellumpost registry hive 1\n"
//   key count
//   per key (parents before children):
//     path length, path ("Software\Tarrow Systems\Vellumpost")
//     value count
//     per value: name length, name, type, data length, data
//   CRC-32 (as in zip) of every byte before it

#include "platform/MemoryRegistry.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vp::platform {

// Larger files are never written, so one is damaged.
constexpr uint32_t kMaxHiveFileBytes = 8 * 1024 * 1024;

class FileRegistry final : public MemoryRegistry {
public:
    // The two files as system paths (backslashes); their folder must exist.
    FileRegistry(std::string userFile, std::string machineFile);

protected:
    void loadHive(RegistryHive hive, RegistryTree& tree) override;
    bool persistHive(RegistryHive hive, const RegistryTree& tree) override;

private:
    struct HiveFile {
        std::string path;
        bool damaged = false;  // read as empty; kept aside before it is replaced
    };
    HiveFile& fileOf(RegistryHive hive);

    HiveFile m_files[2];
};

// The bytes of a hive file for tree. May throw std::bad_alloc.
std::string encodeHive(const RegistryTree& tree);
// Fills tree (cleared first) from a hive file's bytes; false, with tree empty,
// for anything but a whole, undamaged file. Every length is checked against
// the bytes left before it is used.
bool decodeHive(const uint8_t* bytes, size_t size, RegistryTree& tree);

} // namespace vp::platform
