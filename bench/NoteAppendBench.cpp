// Appending a note to the new-notes file rewrites the whole file (through a
// temporary copy, so that a failure never loses the notes already there).
// This measures appending the 1000th note against a plain copy of the same
// bytes, in the same run: the ratio is the figure to watch.
//
//   note_append_bench [folder] [notes] [rounds]

#include "BenchSupport.h"

#include "notes/NoteRecord.h"
#include "notes/NoteStore.h"
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

namespace {

class NoWindows final : public NoteStorePort {
public:
    void openNote(NoteRecord* note) override { delete note; }
    void deleteNote(NoteRecord* note) override { delete note; }
};

// A plain copy in 64 KiB blocks, flushed like the store flushes its file.
void plainCopy(const std::string& from, const std::string& to) {
    platform::File in = platform::File::open(from.c_str(), platform::FileOpen::Read, platform::FileShare::Read);
    platform::File out =
        platform::File::open(to.c_str(), platform::FileOpen::CreateTruncate, platform::FileShare::Exclusive);
    std::vector<char> block(64 * 1024);
    uint32_t got = 0;
    uint32_t put = 0;
    while (in.read(block.data(), static_cast<uint32_t>(block.size()), got) && got > 0) out.write(block.data(), got, put);
    out.flush();
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path() / "vp-note-bench";
    const int notes = argc > 2 ? std::max(2, std::atoi(argv[2])) : 1000;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "Notes");
    const std::string userFolder = platform::fromNativePath(folder.string());
    const std::filesystem::path newNotes = folder / "Notes" / "NewNotes.nts";
    const std::filesystem::path kept = folder / "kept.nts";

    NoWindows port;
    NoteStore store(userFolder.c_str(), port);
    // A note of about one kilobyte of rich text, as a short typed note is.
    std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\\pard\\f0\\fs20 ";
    while (rtf.size() < 1000) rtf += "A line of a note that someone wrote.\\par ";
    rtf += "}";
    NoteRecord note(TextString("ann@127.0.0.1"));
    note.content.assign(rtf.data(), static_cast<uint32_t>(rtf.size()));
    note.SetStatus("Received: 09:41 AM 12/6/26 +0000");

    for (int i = 1; i < notes; ++i) {
        if (!store.AppendToNewNotes(note)) {
            std::fprintf(stderr, "append %d failed\n", i);
            return 1;
        }
    }
    std::filesystem::copy_file(newNotes, kept, std::filesystem::copy_options::overwrite_existing);
    const auto restore = [&] {
        std::filesystem::copy_file(kept, newNotes, std::filesystem::copy_options::overwrite_existing);
    };
    const double append = medianMilliseconds(rounds, restore, [&] { store.AppendToNewNotes(note); });
    const uintmax_t bytes = std::filesystem::file_size(newNotes);

    const std::string full = platform::fromNativePath(newNotes.string());
    const std::string copy = platform::fromNativePath((folder / "copy.nts").string());
    const double plain = medianMilliseconds(rounds, [&] { plainCopy(full, copy); });

    std::printf("new-notes file: %d notes, %ju bytes, median of %d rounds\n", notes, bytes, rounds);
    std::printf("append note %d  %9.2f ms   plain copy of the file %9.2f ms   ratio %.2f\n", notes, append, plain,
                append / plain);
    std::filesystem::remove_all(folder);
    return 0;
}
