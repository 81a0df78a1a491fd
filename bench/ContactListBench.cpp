// Loading and saving a large contact list, measured against the floor that
// the record file itself sets: the same records written and read with
// RecordFile alone, in the same run, on the same disk.
//
//   contact_list_bench [folder] [groups] [users per group] [rounds]
//
// Prints the median of each measurement and the two ratios (contact list
// over plain records).

#include "contacts/ContactListFile.h"
#include "contacts/ContactTree.h"
#include "foundation/RecordFile.h"
#include "platform/Path.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace vp;

namespace {

using Clock = std::chrono::steady_clock;

double medianMilliseconds(int rounds, const std::function<void()>& work) {
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

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
    while (file.error() != RecordFile::kErrEnd && file.IsOpen()) {
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

    const double save = medianMilliseconds(rounds, [&] { listFile.save(tree); });
    const double load = medianMilliseconds(rounds, [&] {
        ContactTree loaded;
        loaded.create();
        listFile.load(loaded);
        if (loaded.count() != tree.count()) std::fprintf(stderr, "load lost contacts\n");
    });

    // The floor: the very records of the saved list, written (and flushed, as
    // the save flushes) and read back with nothing but the record file.
    const std::vector<std::string> records = recordsOf(listFile.listPath());
    const TextString plainPath = (TextString(userFolder.c_str()) + "\\Contacts\\plain.rec");
    const double plainWrite = medianMilliseconds(rounds, [&] {
        RecordFile file(plainPath, RecordFile::kWriting);
        for (const std::string& record : records) file.WriteRecord(record.data(), static_cast<uint32_t>(record.size()));
        file.flush();
    });
    const double plainRead = medianMilliseconds(rounds, [&] {
        RecordFile file(plainPath, RecordFile::kReading);
        std::string buffer;
        while (file.IsOpen() && file.error() != RecordFile::kErrEnd) {
            buffer.resize(file.NextLength());
            if (!file.ReadRecord(buffer.data(), static_cast<uint32_t>(buffer.size()))) break;
        }
    });

    std::printf("contacts: %u (%d groups of %d users), %zu records, median of %d rounds\n", tree.count(), groups,
                usersPerGroup, records.size(), rounds);
    std::printf("save  contact list %9.2f ms   plain records %9.2f ms   ratio %.2f\n", save, plainWrite,
                save / plainWrite);
    std::printf("load  contact list %9.2f ms   plain records %9.2f ms   ratio %.2f\n", load, plainRead,
                load / plainRead);
    std::filesystem::remove_all(folder);
    return 0;
}
