#pragma once
// The client core's services as the application starts and stops them: the
// contact model, the connection monitor, the listener service with the note
// receiver behind it, and the server request service. The windows (or the
// robot) hand in the ports they fill; the robot and the tests may move the
// listeners and the server to other ports and addresses.

#include "app/Application.h"
#include "contacts/ContactList.h"
#include "services/AddContact.h"
#include "protocol/NoteReception.h"
#include "services/ConnectionMonitor.h"
#include "services/ListenerService.h"
#include "services/ServerRequestService.h"
#include "wire/Wire.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vp {

struct ClientServicesSetup {
    // The user's folder (the contact list file) and where attached files
    // arrive.
    TextString userFolder;
    TextString receiveFolder;
    // The application's settings groups; all four are required.
    GeneralOptions* general = nullptr;
    NoteOptions* noteOptions = nullptr;
    AwayOptions* away = nullptr;
    SoundOptions* sounds = nullptr;
    // Where notes are shown (arrived and downloaded) and kept for later.
    NoteDesktopPort* desktop = nullptr;
    NoteStore* store = nullptr;
    ConnectBoxPort* connectBox = nullptr;
    AnnouncementPort* announcements = nullptr;
    // The contact list window, which the local add-contact page selects
    // and brings to the front.
    ContactWindowPort* contactWindow = nullptr;
    // What the server request service's start and password change call.
    std::function<uint32_t()> createAccount;
    std::function<void()> saveSettings;
    std::function<uint32_t()> connected;
    // The fixed ports everywhere unless moved.
    std::string bindAddress;
    uint16_t peerPort = wire::kPeerPort;
    uint16_t httpPort = wire::kLocalHttpPort;
    uint16_t serverPort = wire::kServerPort;
    // The peer port of the clients notes are sent to.
    uint16_t otherPeerPort = wire::kPeerPort;
    // The connection monitor's second; tests of a lost connection shorten it.
    uint32_t monitorSecondMilliseconds = ConnectionMonitor::kSecondMilliseconds;
};

class ClientServices final : public ApplicationServices {
public:
    explicit ClientServices(const ClientServicesSetup& setup);
    ~ClientServices() override;
    ClientServices(const ClientServices&) = delete;
    ClientServices& operator=(const ClientServices&) = delete;

    ContactList& contacts() { return m_contacts; }
    ConnectionMonitor& monitor() { return m_monitor; }
    ListenerService& listeners() { return m_listeners; }
    ServerRequestService& requests() { return m_requests; }
    // What the notes this client sends go with.
    const ProtocolContext& protocol() const { return m_protocol; }

    uint32_t startContactModel() override;
    void stopContactModel() override;
    void detachContactObservers() override;
    void startConnectionMonitor() override;
    void stopConnectionMonitor() override;
    void startListenerService() override;
    void openListeners() override;
    void closeListeners() override;
    void stopListenerService() override;
    void startServerRequestService() override;
    void stopServerRequestService() override;

private:
    static ProtocolContext protocolOf(const ClientServicesSetup& setup, ContactList& contacts,
                                      NoteReceiverPort* notes, PeerListenerPort* listener);
    static NoteReceiver::Setup receiverOf(const ClientServicesSetup& setup, ContactList& contacts,
                                          const ProtocolContext& protocol);
    static ListenerSetup listenerOf(const ClientServicesSetup& setup, const ProtocolContext& protocol,
                                    ContactList& contacts);
    static ServerRequestSetup requestsOf(const ClientServicesSetup& setup, const ProtocolContext& protocol);

    // In the order of their dependencies; the members refer to the ones
    // before them (and the contact model to the request service, through
    // its port).
    ContactList m_contacts;
    ProtocolContext m_protocol;
    NoteReceiver m_receiver;
    ConnectionMonitor m_monitor;
    ListenerService m_listeners;
    ServerRequestService m_requests;
};

} // namespace vp
