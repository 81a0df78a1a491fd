#pragma once
// What a conversation reaches outside the wire: the contact model, the
// settings, the listener service, and the handlers of the requests that
// arrive on the peer port. A ClientProtocol gets them in a ProtocolContext;
// a port left null refuses what it would serve.

#include "foundation/TextString.h"
#include "wire/FrameHeader.h"
#include "wire/Wire.h"

#include <cstdint>
#include <memory>

namespace vp {

class ClientProtocol;
class ContactList;
class AwayOptions;
class GeneralOptions;
class NoteDesktopPort;
class NoteOptions;
class NoteRecord;
class SoundOptions;
class TcpSocket;
struct ProtocolContext;

// The listener service as the log-in sees it.
class PeerListenerPort {
public:
    virtual ~PeerListenerPort() = default;
    // 1 while the peer listener accepts connections.
    virtual uint32_t isPeerListenerRunning() = 0;
    // Opens the relay channel to serverHost with the ticket the log-in
    // received, in the background: 1 when that was started.
    virtual uint32_t openEventConnection(const TextString& serverHost, const TextString& ticket) = 0;
};

// Takes in a note whose header arrived with this system's own version.
class NoteReceiverPort {
public:
    virtual ~NoteReceiverPort() = default;
    // Reads the payload and the attached file and answers the sender; 1
    // when the note was taken in. A receiver that keeps the record releases
    // it from note; whatever is left there is destroyed when this returns.
    virtual uint32_t ReceiveNote(ClientProtocol& protocol, TcpSocket& socket, const FrameHeader& header,
                                 std::unique_ptr<NoteRecord>& note) = 0;
};

// What a relay thread is handed: the server that asked this client to
// answer a relay, and the ticket to answer with. Its first word is its own
// size, which the thread checks before it makes a connection.
struct RelayJob {
    static constexpr uint32_t kSize = 20;
    uint32_t size = kSize;
    // Dotted: the address the request came from.
    TextString serverAddress;
    TextString ticket;
};

// Runs the relays the server asks this client to answer, each on a thread
// of its own.
class RelayStarterPort {
public:
    virtual ~RelayStarterPort() = default;
    // 1 when a thread was started to answer job with context.
    virtual uint32_t startRelayThread(std::unique_ptr<RelayJob> job, const ProtocolContext& context) = 0;
};

// The announcement box.
class AnnouncementPort {
public:
    virtual ~AnnouncementPort() = default;
    virtual void showAnnouncement(const TextString& text) = 0;
};

struct ProtocolContext {
    // ConnectToServer always goes to this port, and a note to another client
    // to its peer port; only tests and the robot change them.
    uint16_t serverPort = wire::kServerPort;
    uint16_t peerPort = wire::kPeerPort;
    // The address this client's connections leave from, and which it
    // compares with the one the server sees; the system's choice when
    // empty. Only the robot and tests, several clients on one machine,
    // set it.
    TextString localAddress;
    // The contact model, when it is ready; presence updates go nowhere
    // without it and every known-contact query is answered NO.
    ContactList* contacts = nullptr;
    // Where HomeURL is read; the built-in maker's page without it.
    GeneralOptions* general = nullptr;
    // The settings a note's send and reception read; each as its defaults
    // when null.
    NoteOptions* noteOptions = nullptr;
    AwayOptions* away = nullptr;
    SoundOptions* sounds = nullptr;
    // Where arrived notes are shown and notes deleted; none: an arrived note
    // that would be shown is kept in the store instead.
    NoteDesktopPort* desktop = nullptr;
    // Without a listener the client counts as behind a proxy and a log-in
    // that needs the relay channel fails.
    PeerListenerPort* listener = nullptr;
    NoteReceiverPort* notes = nullptr;
    RelayStarterPort* relay = nullptr;
    AnnouncementPort* announcements = nullptr;
};

} // namespace vp
