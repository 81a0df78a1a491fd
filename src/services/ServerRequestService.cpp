#include "services/ServerRequestService.h"

#include "app/MessageService.h"
#include "notes/NoteRecord.h"
#include "notes/NoteView.h"
#include "protocol/ClientProtocol.h"
#include "settings/GeneralOptions.h"
#include "wire/StoredNotePayloads.h"
#include "wire/Wire.h"

#include <cstdio>
#include <new>
#include <utility>

namespace vp {

namespace {

constexpr uint32_t kConnectWaitMilliseconds = 60000;
constexpr uint32_t kConnectIntervalMilliseconds = 100;

constexpr char kOfferAccount[] =
    "Would you like to create a new account?\n(You must have an internet connection to do this.)";
constexpr char kPasswordChanged[] = "Your password has been changed.";

constexpr char kNotConnected[] = "Reason: You are not connected to the server.";
constexpr char kServerDown[] = "Sorry.  Cannot continue with NoteDownLoad.\nReason: General Network Error, or your "
                               "VELLUMPOST Server is temporarily down.";
constexpr char kDownloadRefused[] = "Sorry.  Server has refused your NoteDownLoad request.\nPlease make sure you have "
                                    "an account on this server and try again.";
constexpr char kNoNotes[] = "NoteDownLoad: There are 0 notes on the server.";
constexpr char kOneNote[] = "NoteDownLoad: A total of 1 note has been downloaded from the server.\nPlease press the "
                            "OK button to display the retrieved note.";
constexpr char kNoteMemory[] = "Sorry.  Some of the downloaded notes cannot be displayed.\nReason: Not enough "
                               "memory.\n\nWould you like to try again?";
constexpr char kNotesPurged[] = "Sorry.  Cannot display some notes\nThe notes will be purged.";
constexpr char kDownloadFailed[] = "Sorry. Cannot complete the NoteDownLoad request.\n";

TextString notesDownloaded(size_t count) {
    char number[24];
    std::snprintf(number, sizeof number, "%ld", static_cast<long>(count));
    return TextString("NoteDownLoad: A total of ") + number +
           " notes have been downloaded from the server.\nPlease press the OK button to display the retrieved notes.";
}

// Shows the records of a downloaded block as notes, in order.
void showDownloaded(const ServerRequestSetup& setup, const ByteBuffer& block) {
    const auto records = storedNoteRecords(block.data(), block.size());
    if (records.size() == 1) showInfo(kOneNote);
    else if (records.size() > 1) showInfo(notesDownloaded(records.size()).c_str());
    for (const auto& record : records) {
        for (;;) {
            std::unique_ptr<NoteRecord> note(new (std::nothrow) NoteRecord());
            if (note) {
                // A record that is no note is passed over.
                if (note->ParsePayload(record.data(), static_cast<uint32_t>(record.size())) && setup.desktop)
                    setup.desktop->showArrivedNote(std::move(note));
                break;
            }
            if (ask(kNoOwner, kNoteMemory, kMbOkCancel) != kIdOk) {
                showInfo(kNotesPurged);
                return;
            }
        }
    }
}

} // namespace

uint32_t downloadNotes(const ServerRequestSetup& setup, uint32_t verbose, TcpSocket& socket) {
    TextString reason;
    const bool connected = !setup.connected || setup.connected();
    if (!connected || !setup.general) {
        reason = kNotConnected;
    } else {
        ClientProtocol protocol(setup.protocol);
        const TextString server = setup.general->GetString(GeneralOptions::kServerName);
        ByteBuffer block;
        if (!protocol.ConnectToServer(socket, server, wire::kServerPort, kConnectWaitMilliseconds,
                                      kConnectIntervalMilliseconds)) {
            reason = kServerDown;
        } else if (!protocol.NoteDownLoad(socket, setup.general->GetString(GeneralOptions::kUserName),
                                          setup.general->GetString(GeneralOptions::kUserPassword), block)) {
            reason = protocol.errorText().isEmpty() ? TextString(kDownloadRefused) : protocol.errorText();
        } else {
            if (block.size() == 0 && verbose) showInfo(kNoNotes);
            showDownloaded(setup, block);
            return 1;
        }
    }
    if (verbose) showInfo((TextString(kDownloadFailed) + reason).c_str());
    return 0;
}

ServerRequestService::ServerRequestService(ServerRequestSetup setup) : m_setup(std::move(setup)) {}

uint32_t ServerRequestService::postForeground(ServerRequest* request, uint32_t& identity) {
    if (!request) return 0;
    request->lock.wait();
    const bool watched = request->notify != nullptr;
    request->lock.release();
    if (!watched) return 0;
    return post(3, kForeground, &identity, request);
}

uint32_t ServerRequestService::postBackground(ServerRequest* request, uint32_t& identity) {
    return request ? post(3, kBackground, &identity, request) : 0;
}

uint32_t ServerRequestService::cancel(uint32_t identity) {
    return post(2, kCancel, static_cast<std::uintptr_t>(identity));
}

uint32_t ServerRequestService::postServerRequest(std::unique_ptr<ServerRequest>& request) {
    uint32_t identity = 0;
    if (!postBackground(request.get(), identity)) return 0;
    request.release();
    return 1;
}

uint32_t ServerRequestService::onStart() {
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_active.clear();
        m_tableReady = true;
    }
    GeneralOptions* const general = m_setup.general;
    if (!general) return 1;
    if (general->GetString(GeneralOptions::kUserName).isEmpty() && m_setup.createAccount) {
        if (ask(kFocusedOwner, kOfferAccount, kMbYesNo) == kIdYes) {
            if (!m_setup.createAccount()) return 1;
            general->SetInt(GeneralOptions::kAutoConnect, 1);
            general->SetInt(GeneralOptions::kSavePassword, 1);
        }
    }
    if (!m_setup.connectBox) return 1;
    if (general->GetInt(GeneralOptions::kAutoConnect)) m_setup.connectBox->openConnectBox(1);
    else if (general->GetInt(GeneralOptions::kShowConnectBoxAtStartUp)) m_setup.connectBox->openConnectBox(0);
    return 1;
}

uint32_t ServerRequestService::onStop() {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_active.clear();
    m_tableReady = false;
    return 1;
}

uint32_t ServerRequestService::handleRequest(uint32_t sender, uint32_t argumentCount, const std::uintptr_t* args) {
    const std::uintptr_t code = args[0];
    if (code == kCancel && argumentCount >= 2) {
        const auto identity = static_cast<uint32_t>(args[1]);
        uint32_t found = 0;
        {
            const std::lock_guard<std::mutex> guard(m_lock);
            const auto at = m_active.find(identity);
            if (at != m_active.end()) {
                ServerRequest& request = *at->second;
                request.lock.wait();
                request.notify = nullptr;
                request.lock.release();
                if (request.socket) request.socket->Cancel();
                found = 1;
            }
        }
        answer(sender, found);
        return found;
    }
    if ((code == kForeground || code == kBackground) && argumentCount >= 3)
        return run(sender, code, reinterpret_cast<uint32_t*>(args[1]), reinterpret_cast<ServerRequest*>(args[2]));
    answer(sender, 0);
    return 0;
}

// The request is this worker's once its requester has the answer; a stop
// that answered first leaves it with the requester.
uint32_t ServerRequestService::run(uint32_t sender, std::uintptr_t code, uint32_t* identityOut,
                                   ServerRequest* request) {
    uint32_t identity = 0;
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (m_tableReady) {
            identity = ++m_nextIdentity;
            if (identity == 0) identity = ++m_nextIdentity;
            m_active.emplace(identity, request);
        }
    }
    if (identity == 0) {
        answer(sender, 0);
        return 0;
    }
    *identityOut = identity;
    if (!answer(sender, 1)) {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_active.erase(identity);
        return 0;
    }
    const bool foreground = code == kForeground;
    bool succeeded = false;
    {
        // Gone before the request may be freed.
        const ScopedCancelAction cancelled([this, request] { cancelSocket(*request); });
        if (foreground) report(*request, ServerRequest::kStarted);
        succeeded = perform(*request, foreground);
    }
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_active.erase(identity);
    }
    const uint32_t stage = succeeded ? ServerRequest::kSucceeded : ServerRequest::kFailed;
    if (foreground) {
        // Told of the end, the window takes the request over.
        request->lock.wait();
        request->stage = stage;
        ServerRequestProgressPort* const notify = request->notify;
        if (notify) notify->requestProgress(*request, stage);
        request->lock.release();
        if (notify) return succeeded ? 1 : 0;
    } else {
        request->stage = stage;
    }
    dropSocket(*request);
    delete request;
    return succeeded ? 1 : 0;
}

bool ServerRequestService::perform(ServerRequest& request, bool foreground) {
    switch (request.type) {
    case kLogInRequest:
        return logIn(request);
    case kPasswordChangeRequest:
        return foreground && changePassword(request);
    case kNoteDownLoadRequest: {
        if (foreground) return false;
        {
            const std::lock_guard<std::mutex> guard(m_lock);
            request.socket.reset(new (std::nothrow) TcpSocket());
        }
        const bool downloaded = request.socket && downloadNotes(m_setup, request.verbose, *request.socket);
        dropSocket(request);
        return downloaded;
    }
    case kQueryStatusRequest:
        return !foreground && queryStatus(request);
    default:
        return false;
    }
}

bool ServerRequestService::connect(ServerRequest& request, ClientProtocol& protocol) {
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (!request.socket) request.socket.reset(new (std::nothrow) TcpSocket());
    }
    if (!request.socket) return false;
    report(request, ServerRequest::kConnecting);
    if (protocol.ConnectToServer(*request.socket, request.serverName, wire::kServerPort, kConnectWaitMilliseconds,
                                 kConnectIntervalMilliseconds))
        return true;
    request.messageText = protocol.errorText();
    dropSocket(request);
    return false;
}

bool ServerRequestService::logIn(ServerRequest& request) {
    ClientProtocol protocol(m_setup.protocol);
    if (!connect(request, protocol)) return false;
    report(request, ServerRequest::kSending);
    TextString result;
    const uint32_t loggedIn =
        protocol.Login(result, *request.socket, request.serverName, request.userName, request.password);
    request.messageText = result;
    if (!loggedIn) {
        dropSocket(request);
        return false;
    }
    report(request, ServerRequest::kLoggedIn);
    return true;
}

bool ServerRequestService::changePassword(ServerRequest& request) {
    ClientProtocol protocol(m_setup.protocol);
    if (!connect(request, protocol)) return false;
    report(request, ServerRequest::kSending);
    const bool changed = listening(request) &&
                         protocol.ChangePassword(*request.socket, request.userName, request.password,
                                                 request.userName, request.newPassword);
    if (!changed) request.messageText = protocol.errorText();
    dropSocket(request);
    // A window that let go of the request no longer shows the outcome.
    if (changed && !listening(request) && m_setup.general) {
        m_setup.general->SetString(GeneralOptions::kUserPassword, request.newPassword);
        if (m_setup.saveSettings) m_setup.saveSettings();
        showInfo(kPasswordChanged);
    }
    return changed;
}

bool ServerRequestService::queryStatus(ServerRequest& request) {
    ClientProtocol protocol(m_setup.protocol);
    if (!connect(request, protocol)) return false;
    TextString address;
    uint32_t status = 0;
    const bool answered = protocol.QueryStatus(address, status, *request.socket, request.receiverUserName,
                                               request.receiverServerName, request.userName, request.serverName,
                                               request.flags);
    if (answered) request.verbose = status;
    dropSocket(request);
    return answered;
}

void ServerRequestService::report(ServerRequest& request, uint32_t stage) {
    request.lock.wait();
    request.stage = stage;
    if (request.notify) request.notify->requestProgress(request, stage);
    request.lock.release();
}

bool ServerRequestService::listening(ServerRequest& request) {
    request.lock.wait();
    const bool set = request.notify != nullptr;
    request.lock.release();
    return set;
}

void ServerRequestService::dropSocket(ServerRequest& request) {
    const std::lock_guard<std::mutex> guard(m_lock);
    request.socket.reset();
}

void ServerRequestService::cancelSocket(ServerRequest& request) {
    const std::lock_guard<std::mutex> guard(m_lock);
    if (request.socket) request.socket->Cancel();
}

} // namespace vp
