// What another program may send to the peer port, and what a server may
// answer: the input travels over a real loopback connection, whose sending
// half then closes. The first byte picks the reader: 0 modulo 3 runs the
// dispatcher of one request, 1 reads one reply, 2 reads the relay channel
// until it ends.

#include "foundation/TcpSocket.h"
#include "notes/NoteRecord.h"
#include "protocol/ClientProtocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

// The later handlers refuse, as they do before they exist.
class RefusingHandlers : public vp::NoteReceiverPort, public vp::RelayStarterPort, public vp::AnnouncementPort {
public:
    uint32_t ReceiveNote(vp::ClientProtocol&, vp::TcpSocket&, const vp::FrameHeader&,
                         std::unique_ptr<vp::NoteRecord>&) override {
        return 0;
    }
    uint32_t startRelayThread(std::unique_ptr<vp::RelayJob>, const vp::ProtocolContext&) override { return 0; }
    void showAnnouncement(const vp::TextString&) override {}
};

struct Loopback {
    vp::TcpSocket listener;
    sockaddr_in address{};
    bool ready = false;

    Loopback() {
        vp::NetStartup();
        if (listener.Bind(0, "127.0.0.1") != 1 || listener.Listen() != 1) return;
        address.sin_family = AF_INET;
        address.sin_port = htons(listener.LocalPort());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ready = true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Loopback loopback;
    static RefusingHandlers handlers;
    if (!loopback.ready || size == 0 || size > 65536) return 0;

    const int sender = ::socket(AF_INET, SOCK_STREAM, 0);
    if (sender < 0) return 0;
    if (::connect(sender, reinterpret_cast<const sockaddr*>(&loopback.address), sizeof loopback.address) != 0) {
        ::close(sender);
        return 0;
    }
    vp::TcpSocket accepted = loopback.listener.Accept();
    size_t sent = 0;
    while (sent < size - 1) {
        const ssize_t count = ::send(sender, data + 1 + sent, size - 1 - sent, MSG_NOSIGNAL);
        if (count <= 0) break;
        sent += static_cast<size_t>(count);
    }
    ::shutdown(sender, SHUT_WR);

    if (accepted.IsConnected()) {
        vp::ProtocolContext context;
        context.notes = &handlers;
        context.relay = &handlers;
        context.announcements = &handlers;
        vp::ClientProtocol protocol(context);
        if (data[0] % 3 == 0) protocol.HandleRequest(accepted);
        else if (data[0] % 3 == 1) protocol.GetYesNo(accepted, protocol.ownVersion());
        else
            while (protocol.ChannelMessage(accepted)) {}
    }
    ::close(sender);
    return 0;
}
