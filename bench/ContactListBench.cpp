// Loading and saving a large contact list, measured against the floor that
// the disk itself sets: the bytes of the very file the save wrote, written
// with one large write and the same flush and rename, and read back with one
// large read, in the same run, on the same disk.
//
//   contact_list_bench [folder] [groups] [users per group] [rounds]
//
// Prints the median of each measurement and the two ratios (contact list
// over plain bytes).

#include "BenchSupport.h"

#include "contacts/ContactListFile.h"
#include "contacts/ContactTree.h"
#include "foundation/RecordFile.h"
#include "platform/AtomicFile.h"
#include "platform/File.h"
#include "platform/Path.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace vp;
using bench::medianMilliseconds;
using bench::readWholeFile;

namespace {

void fill(ContactTree& tree, int groups, int usersPerGroup) {
    ContactHandle previousGroup = 0;
    for (int g = 0; g < groups; ++g) {
        ContactRecord group;
        group.setContactType(ContactTypeGroup);
        group.setDisplayName(("Group " + std::to_string(g)).c_str());
        ContactHandle groupHandle = 0;
        tree.addContact(group, 0, previousGroup, groupHandle);
        previousGroup = groupHandle;
        for (int u = 0; u < usersPerGroup; ++u) {
            const std::string name = "user" + std::to_string(g) + "x" + std::to_string(u);
            ContactRecord user;
            user.setUserName(name.c_str());
            user.setServerName("127.0.0.1");
            user.setDisplayName(("User " + name).c_str());
            ContactHandle handle = 0;
            tree.addContact(user, groupHandle, groupHandle, handle);
        }
    }
}

// Every record of a record file after the signature, as bytes.
std::vector<std::string> recordsOf(const TextString& path) {
    std::vector<std::string> records;
    RecordFile file(path, RecordFile::kReading);
    while (file.IsOpen() && file.error() != RecordFile::kErrEnd) {
        std::string record(file.NextLength(), '\0');
        if (!file.ReadRecord(record.data(), static_cast<uint32_t>(record.size()))) break;
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path() / "vp-contact-bench";
    const int groups = argc > 2 ? std::atoi(argv[2]) : 100;
    const int usersPerGroup = argc > 3 ? std::atoi(argv[3]) : 100;
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
    std::filesystem::create_directories(folder / "Contacts");
    const std::string userFolder = platform::fromNativePath(folder.string());

    ContactTree tree;
    if (!tree.create()) return 1;
    fill(tree, groups, usersPerGroup);
    ContactListFile listFile(userFolder.c_str());

    const double save = medianMilliseconds(rounds, [&] {
        if (!listFile.save(tree)) std::fprintf(stderr, "save failed\n");
    });
    const double load = medianMilliseconds(rounds, [&] {
        ContactTree loaded;
        loaded.create();
        listFile.load(loaded);
        if (loaded.count() != tree.count()) std::fprintf(stderr, "load lost contacts\n");
    });

    // The floor: the saved list's bytes, put in place the way the save puts
    // its file in place, and read back whole.
    const std::string bytes = readWholeFile(listFile.listPath().c_str());
    const TextString plainPath = TextString(userFolder.c_str()) + "\\Contacts\\plain.anc";
    const TextString plainTemporary = TextString(userFolder.c_str()) + "\\Contacts\\plain.tmp";
    const double plainWrite = medianMilliseconds(rounds, [&] {
        platform::saveBytesAtomically(plainPath.c_str(), plainTemporary.c_str(), bytes.data(),
                                      static_cast<uint32_t>(bytes.size()));
    });
    const double plainRead = medianMilliseconds(rounds, [&] {
        if (readWholeFile(plainPath.c_str()).size() != bytes.size()) std::fprintf(stderr, "plain read fell short\n");
    });

    // Where the time goes: the same records written and read with the
    // record file alone, without the contact model around it.
    const std::vector<std::string> records = recordsOf(listFile.listPath());
    const TextString recordsPath = TextString(userFolder.c_str()) + "\\Contacts\\records.rec";
    const double recordsWrite = medianMilliseconds(rounds, [&] {
        RecordFile file(recordsPath, RecordFile::kWriting);
        for (const std::string& record : records) file.WriteRecord(record.data(), static_cast<uint32_t>(record.size()));
        file.flush();
    });
    const double recordsRead = medianMilliseconds(rounds, [&] {
        RecordFile file(recordsPath, RecordFile::kReading);
        std::string buffer;
        while (file.IsOpen() && file.error() != RecordFile::kErrEnd) {
            buffer.resize(file.NextLength());
            if (!file.ReadRecord(buffer.data(), static_cast<uint32_t>(buffer.size()))) break;
        }
    });

    std::printf("contacts: %u (%d groups of %d users), %zu records, %zu bytes, median of %d rounds\n", tree.count(),
                groups, usersPerGroup, records.size(), bytes.size(), rounds);
    std::printf("save  contact list %9.2f ms   one write of its bytes %9.2f ms   ratio %.2f\n", save, plainWrite,
                save / plainWrite);
    std::printf("load  contact list %9.2f ms   one read of its bytes  %9.2f ms   ratio %.2f\n", load, plainRead,
                load / plainRead);
    std::printf("      the records alone: written %9.2f ms, read %9.2f ms\n", recordsWrite, recordsRead);
    std::filesystem::remove_all(folder);
    return 0;
}
