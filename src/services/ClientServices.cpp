#include "services/ClientServices.h"

#include "protocol/NoteSending.h"

namespace vp {

ClientServices::ClientServices(const ClientServicesSetup& setup)
    : m_contacts(setup.userFolder, *setup.sounds, *setup.general, &m_requests),
      m_protocol(protocolOf(setup, m_contacts, &m_receiver, &m_listeners)),
      m_receiver(receiverOf(setup, m_contacts, m_protocol)),
      m_monitor(setup.monitorSecondMilliseconds),
      m_listeners(listenerOf(setup, m_protocol, m_contacts)),
      m_requests(requestsOf(setup, m_protocol)) {}

// The services stop in the application's order whatever was left running.
ClientServices::~ClientServices() {
    stopServerRequestService();
    closeListeners();
    stopListenerService();
    stopConnectionMonitor();
    stopContactModel();
}

// The receiver and the listener are members made after this context: only
// their addresses are taken here.
ProtocolContext ClientServices::protocolOf(const ClientServicesSetup& setup, ContactList& contacts,
                                           NoteReceiverPort* notes, PeerListenerPort* listener) {
    ProtocolContext protocol;
    protocol.serverPort = setup.serverPort;
    protocol.peerPort = setup.otherPeerPort;
    protocol.localAddress = setup.bindAddress.c_str();
    protocol.contacts = &contacts;
    protocol.general = setup.general;
    protocol.noteOptions = setup.noteOptions;
    protocol.away = setup.away;
    protocol.sounds = setup.sounds;
    protocol.desktop = setup.desktop;
    protocol.listener = listener;
    protocol.notes = notes;
    protocol.announcements = setup.announcements;
    return protocol;
}

NoteReceiver::Setup ClientServices::receiverOf(const ClientServicesSetup& setup, ContactList& contacts,
                                               const ProtocolContext& protocol) {
    return {&contacts,    setup.general,        setup.noteOptions, setup.away,
            setup.sounds, setup.desktop,        setup.store,       setup.receiveFolder,
            NoteReceiver::kBlockTimeoutMilliseconds, autoReplySender(protocol)};
}

ListenerSetup ClientServices::listenerOf(const ClientServicesSetup& setup, const ProtocolContext& protocol,
                                        ContactList& contacts) {
    ListenerSetup listener;
    listener.protocol = protocol;
    listener.serveHttp = [&contacts, window = setup.contactWindow](TcpSocket& connection) {
        serveAddContact(connection, &contacts, window);
    };
    listener.bindAddress = setup.bindAddress;
    listener.peerPort = setup.peerPort;
    listener.httpPort = setup.httpPort;
    return listener;
}

ServerRequestSetup ClientServices::requestsOf(const ClientServicesSetup& setup, const ProtocolContext& protocol) {
    ServerRequestSetup requests;
    requests.protocol = protocol;
    requests.general = setup.general;
    requests.desktop = setup.desktop;
    requests.connectBox = setup.connectBox;
    requests.createAccount = setup.createAccount;
    requests.saveSettings = setup.saveSettings;
    requests.connected = setup.connected;
    return requests;
}

uint32_t ClientServices::startContactModel() { return m_contacts.start(); }
void ClientServices::stopContactModel() { m_contacts.stop(); }
void ClientServices::detachContactObservers() { m_contacts.subject().detachAll(); }
void ClientServices::startConnectionMonitor() { m_monitor.start(); }
void ClientServices::stopConnectionMonitor() { m_monitor.stop(); }
void ClientServices::startListenerService() { m_listeners.start(); }
void ClientServices::openListeners() { m_listeners.openListeners(); }
void ClientServices::closeListeners() { m_listeners.closeListeners(); }
void ClientServices::stopListenerService() { m_listeners.stop(); }
void ClientServices::startServerRequestService() { m_requests.start(); }
void ClientServices::stopServerRequestService() { m_requests.stop(); }

} // namespace vp
