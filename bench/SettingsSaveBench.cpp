// Saving a settings group whose every value changed, over the file store of
// the registry, measured against writing the hive files it touches once
// each (the same bytes, the same flush and rename), in the same run.
//
//   settings_save_bench [folder] [rounds]

#include "BenchSupport.h"

#include "platform/AtomicFile.h"
#include "platform/File.h"
#include "platform/FileRegistry.h"
#include "platform/Path.h"
#include "settings/GeneralOptions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace vp;
using bench::medianMilliseconds;
using bench::readWholeFile;

int main(int argc, char** argv) {
    const std::filesystem::path folder =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path() / "vp-settings-bench";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string base = platform::fromNativePath(folder.string());
    const std::string hives[] = {base + "\\user.reg", base + "\\machine.reg"};

    platform::FileRegistry registry(hives[0], hives[1]);
    GeneralOptions options(registry);
    options.SetKeyPath("Software\\Tarrow Systems\\Vellumpost");
    options.Save();  // the keys exist from here on, as after a first start

    // Each round gives every value of the group something it did not hold.
    int round = 0;
    const auto changeEverything = [&] {
        ++round;
        for (uint32_t id = 0; id <= GeneralOptions::kEnablePrivacy; ++id) {
            options.SetInt(id, static_cast<uint32_t>(round));
            options.SetString(id, ("value " + std::to_string(round)).c_str());
        }
    };
    const double save = medianMilliseconds(rounds, changeEverything, [&] {
        if (!options.Save()) std::fprintf(stderr, "save failed\n");
    });

    std::vector<std::string> contents;
    for (const std::string& hive : hives) contents.push_back(readWholeFile(hive.c_str()));
    const double plain = medianMilliseconds(rounds, [&] {
        for (size_t i = 0; i < contents.size(); ++i) {
            const std::string temporary = hives[i] + ".plain";
            platform::saveBytesAtomically((hives[i] + ".copy").c_str(), temporary.c_str(), contents[i].data(),
                                          static_cast<uint32_t>(contents[i].size()));
        }
    });

    std::printf("settings: GeneralOptions, %zu + %zu hive bytes, median of %d rounds\n", contents[0].size(),
                contents[1].size(), rounds);
    std::printf("save with every value changed %9.2f ms   each hive file written once %9.2f ms   ratio %.2f\n", save,
                plain, save / plain);
    std::filesystem::remove_all(folder);
    return 0;
}
