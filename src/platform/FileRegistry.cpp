#include "platform/FileRegistry.h"

#include "platform/AtomicFile.h"
#include "platform/File.h"

#include <array>
#include <cstring>
#include <string_view>
#include <utility>

namespace vp::platform {

namespace {

constexpr std::string_view kMagic = "Vellumpost registry hive 1\n";
constexpr size_t kCrcBytes = 4;
// The smallest key record (a one-byte path, no values) and value record.
constexpr size_t kMinKeyRecord = 4 + 1 + 4;
constexpr size_t kMinValueRecord = 4 + 4 + 4;

constexpr std::array<uint32_t, 256> makeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

uint32_t crc32(const uint8_t* bytes, size_t size) {
    static constexpr std::array<uint32_t, 256> kTable = makeCrcTable();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) crc = kTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void putU32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void putCounted(std::string& out, std::string_view text) {
    putU32(out, static_cast<uint32_t>(text.size()));
    out.append(text);
}

// Reads from a byte range that never runs past its end.
class Reader {
public:
    Reader(const uint8_t* bytes, size_t size) : m_bytes(bytes), m_left(size) {}

    size_t left() const { return m_left; }

    bool u32(uint32_t& value) {
        if (m_left < 4) return false;
        value = static_cast<uint32_t>(m_bytes[0]) | static_cast<uint32_t>(m_bytes[1]) << 8 |
                static_cast<uint32_t>(m_bytes[2]) << 16 | static_cast<uint32_t>(m_bytes[3]) << 24;
        advance(4);
        return true;
    }

    // A length-prefixed field of at most maximum bytes, as a view into the
    // input (nothing is allocated for it).
    bool counted(uint32_t maximum, std::string_view& field) {
        uint32_t length = 0;
        if (!u32(length) || length > maximum || length > m_left) return false;
        field = std::string_view(reinterpret_cast<const char*>(m_bytes), length);
        advance(length);
        return true;
    }

private:
    void advance(size_t count) {
        m_bytes += count;
        m_left -= count;
    }

    const uint8_t* m_bytes;
    size_t m_left;
};

bool decodeValues(Reader& reader, const std::string& path, RegistryTree& tree) {
    uint32_t valueCount = 0;
    if (!reader.u32(valueCount) || valueCount > reader.left() / kMinValueRecord) return false;
    for (uint32_t i = 0; i < valueCount; ++i) {
        std::string_view name;
        std::string_view data;
        uint32_t type = 0;
        if (!reader.counted(kMaxValueNameBytes, name) || !reader.u32(type) ||
            !reader.counted(kMaxValueBytes, data)) {
            return false;
        }
        // The writer never repeats a name within a key.
        uint32_t existingType = 0;
        uint32_t existingSize = 0;
        if (tree.queryValue(path, name, existingType, nullptr, 0, existingSize) != RegistryResult::NotFound) {
            return false;
        }
        if (tree.setValue(path, name, type, data.data(), static_cast<uint32_t>(data.size())) !=
            RegistryResult::Success) {
            return false;
        }
    }
    return true;
}

bool decodeKeys(Reader& reader, RegistryTree& tree) {
    uint32_t keyCount = 0;
    if (!reader.u32(keyCount) || keyCount > reader.left() / kMinKeyRecord) return false;
    for (uint32_t i = 0; i < keyCount; ++i) {
        std::string_view pathField;
        if (!reader.counted(kMaxKeyPathBytes, pathField)) return false;
        const std::string path(pathField);
        // Paths are written normalized and each key once, parents first: a
        // key that exists already was named twice or after a child.
        bool created = false;
        if (Registry::normalizePath(path.c_str()) != path || tree.hasKey(path) ||
            tree.createKey(path, created) != RegistryResult::Success || !created) {
            return false;
        }
        if (!decodeValues(reader, path, tree)) return false;
    }
    return reader.left() == 0;
}

} // namespace

std::string encodeHive(const RegistryTree& tree) {
    std::string out(kMagic);
    putU32(out, 0);  // the key count, filled in below
    uint32_t keyCount = 0;
    tree.forEachKey([&](const std::string& path, const RegistryTree::ValueMap& values) {
        ++keyCount;
        putCounted(out, path);
        putU32(out, static_cast<uint32_t>(values.size()));
        for (const auto& [name, value] : values) {
            putCounted(out, name);
            putU32(out, value.type);
            putCounted(out, value.data);
        }
    });
    for (size_t i = 0; i < 4; ++i) out[kMagic.size() + i] = static_cast<char>((keyCount >> (8 * i)) & 0xFF);
    putU32(out, crc32(reinterpret_cast<const uint8_t*>(out.data()), out.size()));
    return out;
}

bool decodeHive(const uint8_t* bytes, size_t size, RegistryTree& tree) {
    tree.clear();
    if (!bytes || size > kMaxHiveFileBytes || size < kMagic.size() + 4 + kCrcBytes) return false;
    if (std::memcmp(bytes, kMagic.data(), kMagic.size()) != 0) return false;
    const size_t body = size - kCrcBytes;
    uint32_t stored = 0;
    Reader crcReader(bytes + body, kCrcBytes);
    crcReader.u32(stored);
    if (stored != crc32(bytes, body)) return false;
    Reader reader(bytes + kMagic.size(), body - kMagic.size());
    bool whole = false;
    try {
        whole = decodeKeys(reader, tree);
    } catch (...) {
        whole = false;  // out of memory: the hive cannot be trusted either
    }
    if (!whole) tree.clear();
    return whole;
}

FileRegistry::FileRegistry(std::string userFile, std::string machineFile) {
    m_files[0].path = std::move(userFile);
    m_files[1].path = std::move(machineFile);
}

FileRegistry::HiveFile& FileRegistry::fileOf(RegistryHive hive) {
    return m_files[hive == RegistryHive::LocalMachine ? 1 : 0];
}

void FileRegistry::loadHive(RegistryHive hive, RegistryTree& tree) {
    HiveFile& file = fileOf(hive);
    tree.clear();
    file.damaged = false;
    if (!pathExists(file.path.c_str())) return;  // a fresh store
    // From here on, anything but a whole hive is damaged: it is not trusted,
    // and not lost either.
    file.damaged = true;
    File in = File::open(file.path.c_str(), FileOpen::Read, FileShare::Read);
    uint64_t size = 0;
    if (!in.isOpen() || !in.size(size) || size > kMaxHiveFileBytes) return;
    std::string bytes(static_cast<size_t>(size), '\0');
    uint32_t transferred = 0;
    if (!in.read(bytes.data(), static_cast<uint32_t>(size), transferred) || transferred != size) return;
    if (decodeHive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), tree)) file.damaged = false;
}

bool FileRegistry::persistHive(RegistryHive hive, const RegistryTree& tree) {
    HiveFile& file = fileOf(hive);
    const std::string bytes = encodeHive(tree);
    if (bytes.size() > kMaxHiveFileBytes) return false;
    if (file.damaged && pathExists(file.path.c_str())) {
        if (!renameOver(file.path.c_str(), (file.path + ".bad").c_str())) return false;
    }
    file.damaged = false;

    const std::string temporary = file.path + ".tmp";
    return saveBytesAtomically(file.path.c_str(), temporary.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size()));
}

} // namespace vp::platform
