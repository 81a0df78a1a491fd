#include "Robot.h"

#include "app/AppInfo.h"
#include "platform/Path.h"
#include "protocol/NoteSending.h"

#include <spdlog/spdlog.h>

#include <filesystem>
#include <utility>

namespace vp::robot {

namespace {

constexpr auto kLook = std::chrono::milliseconds(100);

// The text as the body of a note: backslashes and braces escaped.
std::string rtfOf(const std::string& text) {
    std::string body = "{\\rtf1\\ansi ";
    for (const char c : text) {
        if (c == '\\' || c == '{' || c == '}') body += '\\';
        if (c == '\n') body += "\\par ";
        else body += c;
    }
    return body + "}";
}

std::string systemForm(const std::string& path) { return platform::fromNativePath(path); }

// The folder made absolute, with the folders the notes, the contacts and
// the received files go in, as the installed client has them.
RobotOptions withAbsoluteFolder(RobotOptions options) {
    const std::filesystem::path folder = std::filesystem::absolute(options.dataFolder).lexically_normal();
    for (const char* part : {"Notes", "Contacts", "files"}) std::filesystem::create_directories(folder / part);
    options.dataFolder = folder.string();
    return options;
}

} // namespace

Robot::Robot(const RobotOptions& options)
    : m_options(withAbsoluteFolder(options)),
      m_registry(systemForm(m_options.dataFolder) + "\\user.hive", systemForm(m_options.dataFolder) + "\\machine.hive"),
      m_previousMessages(setMessageService(this)),
      m_store(systemForm(m_options.dataFolder).c_str(), *this, &m_notes) {
    configure();
}

Robot::~Robot() { setMessageService(m_previousMessages); }

// The settings of an earlier run are read first, then the options given
// now replace theirs.
void Robot::configure() {
    for (SettingsGroup* group : {static_cast<SettingsGroup*>(&m_general), static_cast<SettingsGroup*>(&m_notes),
                                 static_cast<SettingsGroup*>(&m_away), static_cast<SettingsGroup*>(&m_sounds)}) {
        group->SetKeyPath(kSettingsBaseKey);
        group->Load();
    }
    m_general.SetString(GeneralOptions::kUserName, m_options.user.c_str());
    m_general.SetString(GeneralOptions::kServerName, m_options.server.c_str());
    m_general.SetString(GeneralOptions::kUserPassword, m_options.password.c_str());
    m_general.SetString(GeneralOptions::kReceiveFolder, (systemForm(m_options.dataFolder) + "\\files").c_str());
    m_general.SetInt(GeneralOptions::kAutoConnect, 0);
    m_general.SetInt(GeneralOptions::kShowConnectBoxAtStartUp, 0);
    // Arrived notes go to the new-notes file once whole, each told in a box
    // (a log line).
    m_notes.SetInt(NoteOptions::kShowOnArrival, 0);
    m_notes.SetInt(NoteOptions::kPromptOnArrival, 1);
    m_notes.SetInt(NoteOptions::kPromptOnSent, 0);
    m_away.SetString(AwayOptions::kAutoReplyMsg, m_options.awayMessage.c_str());
    m_away.SetInt(AwayOptions::kAutoReplyAllowAttachments, 1);
    m_away.SetInt(AwayOptions::kAutoReplyWithCustomMsg, 0);
    m_away.SetInt(AwayOptions::kAwayMode, 1);
    m_general.Save();
    m_notes.Save();
    m_away.Save();
    m_sounds.Save();
}

int Robot::run(const std::atomic<bool>& stop) {
    m_store.StartNotes();
    ClientServicesSetup setup;
    setup.userFolder = systemForm(m_options.dataFolder).c_str();
    setup.receiveFolder = (systemForm(m_options.dataFolder) + "\\files").c_str();
    setup.general = &m_general;
    setup.noteOptions = &m_notes;
    setup.away = &m_away;
    setup.sounds = &m_sounds;
    setup.desktop = this;
    setup.store = &m_store;
    setup.announcements = this;
    setup.contactWindow = this;
    setup.connected = [this] { return m_connected.load(); };
    setup.bindAddress = m_options.bind;
    setup.peerPort = setup.otherPeerPort = m_options.peerPort;
    setup.httpPort = m_options.httpPort;
    setup.serverPort = m_options.serverPort;
    setup.monitorSecondMilliseconds = m_options.monitorSecondMilliseconds;
    m_services = std::make_unique<ClientServices>(setup);
    m_contacts = &m_services->contacts();
    // Attached before the list loads, so that every name is known.
    m_contacts->subject().attach(static_cast<Observer*>(this));
    if (!m_services->startContactModel()) {
        spdlog::error("the contact list could not start");
        return 1;
    }
    addContacts();
    m_services->startConnectionMonitor();
    m_services->startListenerService();
    if (!m_options.behindProxy) {
        if (!m_services->listeners().openListeners()) {
            spdlog::error("could not listen on {} ports {} and {}", m_options.bind.empty() ? "all addresses" : m_options.bind,
                          m_options.peerPort, m_options.httpPort);
            return 1;
        }
        spdlog::info("listening on {} peer port {} and add-contact port {}",
                     m_options.bind.empty() ? "every address" : m_options.bind, m_services->listeners().peerPort(),
                     m_services->listeners().httpPort());
    }
    m_services->startServerRequestService();

    SessionKeeperSetup session;
    session.general = &m_general;
    session.sounds = &m_sounds;
    session.contacts = m_contacts;
    session.monitor = &m_services->monitor();
    session.requests = &m_services->requests();
    session.listeners = &m_services->listeners();
    session.port = this;
    m_keeper = std::make_unique<SessionKeeper>(session);

    // Logged in, or trying again every so often for a while after a loss,
    // as the reconnect box does.
    using Clock = std::chrono::steady_clock;
    auto retryUntil = Clock::now() + m_options.retryFor;
    auto nextTry = Clock::now();
    bool trying = false;
    bool gaveUp = false;
    while (!stop) {
        runTasks(kLook);
        const auto now = Clock::now();
        if (m_lost) {
            m_lost = false;
            spdlog::info("connection to the server lost: logging in again every {} s", m_options.retryEvery.count());
            retryUntil = now + m_options.retryFor;
            nextTry = now + m_options.retryEvery;
        }
        if (trying && !m_keeper->pendingIdentity()) {
            trying = false;
            if (m_keeper->connection()) {
                retryUntil = now + m_options.retryFor;
            } else if (now >= retryUntil) {
                spdlog::warn("no connection for {} s: giving up until restarted", m_options.retryFor.count());
                gaveUp = true;
            } else {
                nextTry = now + m_options.retryEvery;
            }
        }
        if (!trying && !gaveUp && !m_keeper->connection() && now >= nextTry)
            trying = m_keeper->connectSilently(*this) != 0;
    }
    spdlog::info("stopping");
    m_keeper->disconnect();
    m_contacts->subject().detach(static_cast<Observer*>(this));
    m_services.reset();
    // A log-in told its end before it was let go of is freed here.
    runTasks(std::chrono::milliseconds(0));
    m_keeper.reset();
    m_store.StopNotes();
    m_general.Save();
    m_notes.Save();
    m_away.Save();
    spdlog::info("stopped, files saved");
    return 0;
}

void Robot::postTask(std::function<void()> task) {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_tasks.push_back(std::move(task));
    m_changed.notify_all();
}

void Robot::runTasks(std::chrono::milliseconds wait) {
    std::deque<std::function<void()>> tasks;
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_changed.wait_for(guard, wait, [this] { return !m_tasks.empty(); });
        tasks.swap(m_tasks);
    }
    for (auto& task : tasks) task();
}

void Robot::showConnectionState(uint32_t connected) {
    m_connected = connected;
    if (!connected) return;
    // The notes left here while the robot was away.
    auto* download = new ServerRequest();
    download->type = kNoteDownLoadRequest;
    uint32_t identity = 0;
    if (!m_services->requests().postBackground(download, identity)) delete download;
}

void Robot::loggedIn(const ServerRequest& request) {
    spdlog::info("logged in to {} as {}: {}", m_options.server, m_options.user, request.messageText.c_str());
}

void Robot::sessionLost() { m_lost = true; }

void Robot::postConnectionDropped(TcpSocket* connection) {
    postTask([this, connection] { m_keeper->connectionDropped(connection); });
}

int Robot::send() {
    NoteRecord note(m_options.to.c_str());
    const std::string body = rtfOf(m_options.text);
    note.content.assign(body.data(), static_cast<uint32_t>(body.size()));
    if (!m_options.file.empty()) note.SetAttachment(systemForm(std::filesystem::absolute(m_options.file)).c_str());
    ProtocolContext context;
    context.serverPort = m_options.serverPort;
    context.peerPort = m_options.peerPort;
    context.localAddress = m_options.bind.c_str();
    context.general = &m_general;
    context.noteOptions = &m_notes;
    context.sounds = &m_sounds;
    m_away.SetInt(AwayOptions::kAwayMode, 0);
    context.away = &m_away;
    const uint32_t sent = SendWork(note, context);
    spdlog::info("note to {}: {}", m_options.to, sent ? note.GetStatus().c_str() : "not sent");
    return sent ? 0 : 1;
}

uint32_t Robot::showBox(const char*, const char* text, std::uintptr_t, uint32_t flags) {
    // One line per box.
    std::string line = text ? text : "";
    for (char& c : line)
        if (c == '\n') c = ' ';
    spdlog::info("{}", line);
    const uint32_t buttons = flags & kMbButtonMask;
    if (buttons == kMbYesNo) return kIdYes;
    return kIdOk;
}

void Robot::openNote(NoteRecord* note) { delete note; }
void Robot::deleteNote(NoteRecord* note) { delete note; }
void Robot::deleteNote(NoteRecord&) {}

void Robot::setNewNotesAvailable(uint32_t available) {
    if (available) spdlog::info("a note arrived and is kept ({} waiting)", m_store.NewNoteCount());
}

// A note handed to the desktop may still be in use by whoever handed it
// (a reception); it is kept in the store at once and lives until the robot
// stops.
void Robot::showArrivedNote(std::unique_ptr<NoteRecord> note) {
    spdlog::info("a note from {} is kept", note->peerName.c_str());
    m_store.AppendToNewNotes(*note);
    const std::lock_guard<std::mutex> guard(m_lock);
    m_handedOver.push_back(std::move(note));
}

void Robot::requestProgress(ServerRequest& request, uint32_t stage) {
    postTask([this, &request, stage] { m_keeper->loginProgress(request, stage); });
}

uint32_t Robot::update(Subject& subject, std::uintptr_t argument) {
    if (m_contacts && &subject == &m_contacts->subject()) contactChanged(*reinterpret_cast<const QueuedEvent*>(argument));
    return 1;
}

void Robot::contactChanged(const QueuedEvent& event) {
    const auto text = [&event](uint32_t index) {
        const ByteBuffer& field = event.fields.field(index);
        return field.size() ? std::string(reinterpret_cast<const char*>(field.data()), field.size()) : std::string();
    };
    const ContactHandle handle = numberOf(event.fields.field(0));
    switch (event.code) {
    case ContactAdded:
        m_contactNames[handle] = text(4);
        break;
    case DisplayNameChanged:
        m_contactNames[handle] = text(1);
        break;
    case ContactRemoved:
        m_contactNames.erase(handle);
        break;
    case ContactStatusChanged: {
        const auto found = m_contactNames.find(handle);
        const std::string name = found != m_contactNames.end() ? found->second : "#" + std::to_string(handle);
        if (numberOf(event.fields.field(1)))
            spdlog::info("contact {} is online at {}", name, text(3));
        else
            spdlog::info("contact {} is offline", name);
        break;
    }
    default:
        break;
    }
}

void Robot::addContacts() {
    ContactList& contacts = *m_contacts;
    for (const std::string& name : m_options.contacts) {
        const size_t at = name.rfind('@');
        const TextString user = name.substr(0, at == std::string::npos ? name.size() : at).c_str();
        const TextString server = at == std::string::npos ? "" : name.substr(at + 1).c_str();
        ContactHandle handle = 0;
        if (contacts.findContactByName(user, server, handle))
            spdlog::info("contact {} is on the list", name);
        else if (at != std::string::npos && contacts.addUserContact(user, server, 0, 0, handle))
            spdlog::info("contact {} added to the list", name);
        else
            spdlog::warn("contact {} cannot be added: a contact is user@server", name);
    }
}

void Robot::showContact(ContactHandle handle) {
    ContactList& contacts = *m_contacts;
    TextString user;
    TextString server;
    if (handle && contacts.getUserName(handle, user) && contacts.getServerName(handle, server))
        spdlog::info("the contact list shows {}@{}", user.c_str(), server.c_str());
    else
        spdlog::info("the contact list is shown");
}

int Robot::createAccount() {
    m_general.SetString(GeneralOptions::kServerListURL, m_options.listUrl.c_str());
    AccountCreation creation(m_general, *this, *this);
    return creation.createAccount() ? 0 : 1;
}

uint32_t Robot::runForm(const std::vector<ServerEntry>& servers, AccountCreation& creation) {
    std::string shown;
    for (const ServerEntry& server : servers) shown += (shown.empty() ? "" : " | ") + std::string(server.displayText.c_str());
    spdlog::info("servers offered: {}", shown);
    if (m_options.pick < 1 || m_options.pick > servers.size()) {
        spdlog::error("the list has no server {}", m_options.pick);
        return 2;
    }
    AccountFormValues values;
    values.userName = m_options.user.c_str();
    values.password = m_options.password.c_str();
    values.confirmation = (m_options.confirmation.empty() ? m_options.password : m_options.confirmation).c_str();
    values.serverIndex = m_options.pick - 1;
    return creation.submit(values) == 1 ? 1 : 2;
}

void Robot::showProgress(const char* text) { spdlog::info("{}", text); }
void Robot::closeProgress() {}

void Robot::showAnnouncement(const TextString& text) { spdlog::info("announcement: {}", text.c_str()); }

} // namespace vp::robot
