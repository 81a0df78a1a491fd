// How long a short note takes from SendNote to the receiver's last YES,
// with the connection made for it, against the least any exchange on a
// fresh connection costs: connect, a 12-byte request and a 12-byte reply
// (a probe, which the receiver refuses). Both go to the same receiving
// client core on loopback in the same run.

#include "BenchSupport.h"
#include "NoteBenchSupport.h"
#include "foundation/TcpSocket.h"
#include "notes/NoteRecord.h"
#include "protocol/ClientProtocol.h"
#include "wire/FrameHeader.h"
#include "wire/ProtocolVersion.h"
#include "platform/Path.h"
#include "wire/Wire.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

using namespace vp;
using namespace vp::bench;

constexpr int kRounds = 1000;
constexpr char kText[] = "{\\rtf1 Lunch at one?\\par}";

bool receiveExactly(TcpSocket& socket, void* buffer, uint32_t count) {
    auto* at = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        const uint32_t got = socket.Recv(at, count);
        if (got == 0) return false;
        at += got;
        count -= got;
    }
    return true;
}

bool sendBlock(TcpSocket& socket, uint32_t code, uint32_t length) {
    const auto block = FrameHeader{ProtocolVersion::own().packed(), code, length}.encode();
    return socket.Send(block.data(), FrameHeader::kSize) == FrameHeader::kSize;
}

bool readBlock(TcpSocket& socket, FrameHeader& header) {
    uint8_t bytes[FrameHeader::kSize];
    return receiveExactly(socket, bytes, sizeof bytes) && FrameHeader::decode(bytes, sizeof bytes, header);
}

} // namespace

int main() {
    if (!NetStartup()) return 1;
    BenchFolder folder;
    const std::string place = platform::fromNativePath(folder.root().string());
    NoteReceiverPeer peer(place, place);
    const uint16_t port = peer.port();
    if (port == 0) {
        std::fprintf(stderr, "could not listen\n");
        return 1;
    }
    const auto plain = percentiles(kRounds, [&] {
        TcpSocket socket;
        FrameHeader reply{};
        return socket.Connect("127.0.0.1", port) && sendBlock(socket, wire::kProbe, 0) && readBlock(socket, reply);
    });
    ProtocolContext context;
    context.peerPort = port;
    NoteRecord note("127.0.0.1");
    note.content.assign(kText, sizeof kText - 1);
    const auto delivery = percentiles(kRounds, [&] {
        ClientProtocol protocol(context);
        return protocol.SendNote("127.0.0.1", "bench@127.0.0.1", note) == 1;
    });

    NetCleanup();
    if (plain.first < 0 || delivery.first < 0) {
        std::fprintf(stderr, "an exchange failed\n");
        return 1;
    }
    std::printf("note delivery: median %.0f us, 99th percentile %.0f us; connect + 12-byte request + 12-byte reply: "
                "median %.0f us, 99th percentile %.0f us: %.2fx at the median\n",
                delivery.first, delivery.second, plain.first, plain.second, delivery.first / plain.first);
    return 0;
}
