// A large file attached to a note, from SendNote to the receiver's final
// YES with the real protocol on both sides, against the same file copied
// over a plain loopback socket: once in the same 8000-byte writes and reads,
// once in 128 KiB ones. Both sides of every run read the file from a
// read-only mapping and write it into a folder in memory, so that only the
// protocol's own costs differ.
//
//   attachment_throughput_bench [megabytes] [rounds]

#include "BenchSupport.h"
#include "NoteBenchSupport.h"
#include "platform/File.h"
#include "platform/Path.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

using namespace vp;
using namespace vp::bench;

namespace {

bool sendAll(TcpSocket& socket, const uint8_t* bytes, uint64_t count, uint32_t piece) {
    while (count > 0) {
        const auto size = static_cast<uint32_t>(std::min<uint64_t>(count, piece));
        const uint32_t sent = socket.Send(bytes, size);
        if (sent == 0) return false;
        bytes += sent;
        count -= sent;
    }
    return true;
}

// The file sent in pieces of the given size and written down on arrival.
bool plainCopy(const platform::FileMapping& file, const std::string& target, uint32_t piece) {
    TcpSocket listener, sender;
    if (listener.Bind(0, "127.0.0.1") != 1 || listener.Listen() != 1) return false;
    bool received = false;
    std::thread receiving([&] {
        TcpSocket connection = listener.Accept();
        platform::File out =
            platform::File::open(target.c_str(), platform::FileOpen::CreateTruncate, platform::FileShare::Exclusive);
        std::vector<uint8_t> buffer(piece);
        uint64_t left = file.size();
        while (left > 0 && out.isOpen()) {
            const uint32_t got = connection.Recv(buffer.data(), static_cast<uint32_t>(std::min<uint64_t>(left, piece)));
            uint32_t written = 0;
            if (got == 0 || !out.write(buffer.data(), got, written) || written != got) break;
            left -= got;
        }
        received = left == 0;
    });
    const bool sent = sender.Connect("127.0.0.1", listener.LocalPort()) == 1 &&
                      sendAll(sender, file.data(), file.size(), piece);
    receiving.join();
    return sent && received;
}

} // namespace

int main(int argc, char** argv) {
    const uint64_t megabytes = argc > 1 ? static_cast<uint64_t>(std::max(1, std::atoi(argv[1]))) : 200;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (NetStartup() != 1) return 1;
    BenchFolder folder;
    const std::filesystem::path files = folder.root() / "Files";
    std::filesystem::create_directories(files);
    const std::string source = folder.path("attached.bin");
    {
        std::vector<uint8_t> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 131 + 7);
        platform::File out =
            platform::File::open(source.c_str(), platform::FileOpen::CreateTruncate, platform::FileShare::Exclusive);
        uint32_t written = 0;
        for (uint64_t i = 0; i < megabytes; ++i)
            if (!out.write(block.data(), static_cast<uint32_t>(block.size()), written)) return 1;
    }
    const platform::FileMapping mapped = platform::FileMapping::mapReadOnly(source.c_str());
    NoteReceiverPeer peer(platform::fromNativePath(folder.root().string()), platform::fromNativePath(files.string()));
    if (!mapped.isValid() || peer.port() == 0) {
        std::fprintf(stderr, "could not set up the file or the receiver\n");
        return 1;
    }
    ProtocolContext context;
    context.peerPort = peer.port();
    const auto emptyFiles = [&] {
        for (const auto& entry : std::filesystem::directory_iterator(files)) std::filesystem::remove(entry.path());
    };
    bool failed = false;
    const auto throughNote = [&] {
        NoteRecord note("127.0.0.1");
        note.content.assign("{\\rtf1 The file.}", 17);
        note.SetAttachment(platform::fromNativePath(source).c_str());
        ClientProtocol protocol(context);
        failed |= protocol.SendNote("127.0.0.1", "bench@127.0.0.1", note) != 1 || !protocol.errorText().isEmpty();
    };
    const std::string target = (files / "copy.bin").string();
    const auto small = [&] { failed |= !plainCopy(mapped, target, 8000); };
    const auto large = [&] { failed |= !plainCopy(mapped, target, 128 * 1024); };

    // Alternating round by round, so that whatever else the machine does
    // meanwhile weighs on all three alike.
    std::vector<double> noteTimes, smallTimes, largeTimes;
    for (int round = 0; round < rounds && !failed; ++round) {
        noteTimes.push_back(medianMilliseconds(1, emptyFiles, throughNote));
        smallTimes.push_back(medianMilliseconds(1, emptyFiles, small));
        largeTimes.push_back(medianMilliseconds(1, emptyFiles, large));
    }
    if (failed) {
        std::fprintf(stderr, "a transfer failed\n");
        return 1;
    }
    const auto median = [](std::vector<double>& times) {
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    const double noteMs = median(noteTimes), smallMs = median(smallTimes), largeMs = median(largeTimes);
    const auto rate = [&](double ms) { return static_cast<double>(megabytes) / (ms / 1000.0); };
    std::printf("attachment: %llu MB at %.0f MB/s; plain copy in 8000-byte writes %.0f MB/s: %.0f%% (goal at least "
                "80%%); in 128 KiB writes %.0f MB/s: %.0f%%\n",
                static_cast<unsigned long long>(megabytes), rate(noteMs), rate(smallMs), 100.0 * smallMs / noteMs,
                rate(largeMs), 100.0 * largeMs / noteMs);
    NetCleanup();
    return 0;
}
