// A client core on a loopback address, the other side of the end-to-end
// tests of another build (the Windows client under Wine): it takes in one
// note on its peer port and answers with a note of its own, carrying the
// file that note brought, to the dotted address the note names as its
// sender, on the same peer port, as every client uses one.
//
//   vellumpost-note-peer FOLDER
//
// Listens on 127.0.0.3 at a port the system picks and writes "127.0.0.3
// PORT" to FOLDER/address once it does; received files go to FOLDER/files.
// Exits 0 once its answer was delivered, 1 when it was not or when no note
// came within two minutes.

#include "support/NoteClient.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vp {
namespace {

constexpr char kAddress[] = "127.0.0.3";

int run(const std::filesystem::path& folder) {
    const std::filesystem::path files = folder / "files";
    test::NoteClient peer(files, files.string(), kAddress, "", kAddress);
    if (peer.listener->port() == 0) return 1;
    peer.context.peerPort = peer.listener->port();
    std::ofstream(folder / "address.new") << kAddress << " " << peer.listener->port() << "\n";
    std::filesystem::rename(folder / "address.new", folder / "address");

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    NoteRecord* arrived = nullptr;
    while (!(arrived = peer.settled(1)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!arrived) return 1;
    NoteRecord answer(arrived->peerName);
    answer.content.assign("{\\rtf1 Here it is back.}", 24);
    if (!arrived->attachmentName.isEmpty()) answer.SetAttachment(arrived->attachmentFolder + arrived->attachmentName);
    const uint32_t sent = SendWork(answer, peer.context);
    std::fprintf(stderr, "note-peer: a note from %s, %s\n", arrived->peerName.c_str(),
                 sent ? "answered" : "not answered");
    peer.listener->stop();
    return sent ? 0 : 1;
}

} // namespace
} // namespace vp

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vellumpost-note-peer FOLDER\n");
        return 2;
    }
    if (!vp::NetStartup()) return 1;
    const int result = vp::run(argv[1]);
    vp::NetCleanup();
    return result;
}
