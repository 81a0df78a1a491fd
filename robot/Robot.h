#pragma once
// vellumpost-robot: the client core without windows. It keeps its settings
// in files, logs in, has its connection watched and logs in again after a
// loss, listens on the peer and local HTTP ports, stays away and answers
// every note with its automatic reply, keeps the notes it receives, and
// fetches the notes left for it at each log-in; it tells of its contacts'
// presence and of the contacts a local browser adds. Or it sends one note,
// or creates an account through a server list, and ends.

#include "app/MessageService.h"
#include "foundation/Subject.h"
#include "notes/NoteStore.h"
#include "services/AccountCreation.h"
#include "notes/NoteView.h"
#include "platform/FileRegistry.h"
#include "services/ClientServices.h"
#include "services/SessionKeeper.h"
#include "settings/AwayOptions.h"
#include "settings/GeneralOptions.h"
#include "settings/NoteOptions.h"
#include "settings/SoundOptions.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vp::robot {

struct RobotOptions {
    std::string server = "127.0.0.1";
    uint16_t serverPort = wire::kServerPort;
    std::string user;
    std::string password;
    std::string dataFolder;
    std::string awayMessage = "I am a robot and away for good. Your note arrived.";
    // Where the listeners listen: every address and the fixed ports unless
    // set. The peer port of the others is this one too.
    std::string bind;
    uint16_t peerPort = wire::kPeerPort;
    uint16_t httpPort = wire::kLocalHttpPort;
    // Takes no connections: reached through the server's relay.
    bool behindProxy = false;
    // How often and how long a lost connection is retried.
    std::chrono::seconds retryEvery{10};
    std::chrono::seconds retryFor{300};
    // The connection monitor's second, shortened by tests of a lost server.
    uint32_t monitorSecondMilliseconds = ConnectionMonitor::kSecondMilliseconds;
    // send: the receiver ("user@server" or a dotted address), the text, a file.
    std::string to;
    std::string text;
    std::string file;
    // Contacts ("user@server") put on the list at start, whose presence is
    // queried at each log-in and logged as it changes.
    std::vector<std::string> contacts;
    // create-account: the server list's address, the server picked from it
    // (1 is the first) and the password's confirmation (the password when
    // empty).
    std::string listUrl;
    uint32_t pick = 1;
    std::string confirmation;
};

class Robot final : NoteStorePort,
                    NoteDesktopPort,
                    ServerRequestProgressPort,
                    SessionKeeperPort,
                    Observer,
                    AnnouncementPort,
                    ContactWindowPort,
                    AccountFormPort,
                    AccountProgressPort,
                    public MessageService {
public:
    explicit Robot(const RobotOptions& options);
    ~Robot() override;
    Robot(const Robot&) = delete;
    Robot& operator=(const Robot&) = delete;

    // Serves until stop is set: 0 on a clean end, 1 when it could not start.
    int run(const std::atomic<bool>& stop);
    // Sends the one note: 0 when it was delivered or left on the server.
    int send();
    // Fetches the server list, picks a server and creates the account: 0
    // when it was created (the names are then in the settings).
    int createAccount();

    // Every box is a log line; questions are answered yes (so a note for a
    // user who is offline is left on the server).
    uint32_t showBox(const char* title, const char* text, std::uintptr_t owner, uint32_t flags) override;

private:
    // NoteStorePort: the robot has no windows.
    void openNote(NoteRecord* note) override;
    void deleteNote(NoteRecord* note) override;
    void setNewNotesAvailable(uint32_t available) override;
    // NoteDesktopPort: notes downloaded from the server (or that could not
    // be stored as they arrived) are kept.
    void showArrivedNote(std::unique_ptr<NoteRecord> note) override;
    void deleteNote(NoteRecord& note) override;
    // ServerRequestProgressPort: the log-in's stages, passed to the main
    // thread.
    void requestProgress(ServerRequest& request, uint32_t stage) override;
    // SessionKeeperPort: the main thread stands in for the windows.
    void showConnectionState(uint32_t connected) override;
    void loggedIn(const ServerRequest& request) override;
    void sessionLost() override;
    void postConnectionDropped(TcpSocket* connection) override;
    // Observer: the contact list changed (on the model's thread: only the
    // names kept here are used).
    uint32_t update(Subject& subject, std::uintptr_t argument) override;
    void contactChanged(const QueuedEvent& event);
    void showAnnouncement(const TextString& text) override;
    // ContactWindowPort: a contact the local add-contact page added or found.
    void showContact(ContactHandle handle) override;
    // AccountFormPort and AccountProgressPort: the form is filled from the
    // options and submitted once.
    uint32_t runForm(const std::vector<ServerEntry>& servers, AccountCreation& creation) override;
    void showProgress(const char* text) override;
    void closeProgress() override;

    void configure();
    // Puts the contacts of the options on the list.
    void addContacts();
    // Work for the main thread, run in the order it was posted.
    void postTask(std::function<void()> task);
    // Runs the tasks posted, waiting up to wait for the first.
    void runTasks(std::chrono::milliseconds wait);

    RobotOptions m_options;
    platform::FileRegistry m_registry;
    GeneralOptions m_general{m_registry};
    NoteOptions m_notes{m_registry};
    AwayOptions m_away{m_registry};
    SoundOptions m_sounds{m_registry};
    MessageService* m_previousMessages = nullptr;
    NoteStore m_store;
    std::unique_ptr<ClientServices> m_services;

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_tasks;
    // The session, kept as the main window keeps it.
    std::unique_ptr<SessionKeeper> m_keeper;
    std::atomic<uint32_t> m_connected{0};
    bool m_lost = false;
    std::vector<std::unique_ptr<NoteRecord>> m_handedOver;
    // The contacts' display names by handle, as the list's events tell them
    // (used on the model's thread only).
    std::map<ContactHandle, std::string> m_contactNames;
    // The services' contact list, set once before their threads start (so
    // that they may reach it while the services are being taken down).
    ContactList* m_contacts = nullptr;
};

} // namespace vp::robot
