#include "AdminCommand.h"

#include "ControlSocket.h"
#include "storage/PasswordHash.h"
#include "storage/SqliteStorage.h"
#include "storage/UserKey.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <optional>

namespace vp::server {

namespace {

// Turns echo off while a password is typed at a terminal, and back on
// however the reading ends.
class EchoOff {
public:
    EchoOff() {
        if (::tcgetattr(STDIN_FILENO, &m_saved) != 0)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        m_active = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (m_active)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios m_saved{};
    bool m_active = false;
};

// One line of at most kMaxPasswordLength characters, without its line end;
// nullopt with the reason in err.
std::optional<std::string> readPassword(const std::string& key, std::istream& in, std::ostream& err) {
    std::optional<EchoOff> echoOff;
    const bool terminal = &in == &std::cin && ::isatty(STDIN_FILENO);
    if (terminal) {
        err << "Password for " << key << ": " << std::flush;
        echoOff.emplace();
    }
    std::string password;
    bool lineEnded = false;
    for (char c; in.get(c);) {
        if (c == '\n') {
            lineEnded = true;
            break;
        }
        if (password.size() > kMaxPasswordLength)
            break; // enough to know it is too long; the rest is not held
        password += c;
    }
    if (terminal)
        err << '\n';
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty() && !lineEnded) {
        err << "No password on standard input: give it as one line, for example through a pipe.\n";
        return std::nullopt;
    }
    if (password.size() < kMinPasswordLength) {
        err << "A password must be at least " << kMinPasswordLength << " characters long.\n";
        return std::nullopt;
    }
    if (password.size() > kMaxPasswordLength) {
        err << "A password can be at most " << kMaxPasswordLength << " characters long.\n";
        return std::nullopt;
    }
    return password;
}

int announce(const ServerOptions& options, std::ostream& out, std::ostream& err) {
    const std::string& text = options.adminArgument;
    if (text.find_first_of("\r\n") != std::string::npos) {
        err << "An announcement is one line; it cannot hold a line break.\n";
        return kExitUsage;
    }
    const std::string& path = options.config.controlSocketPath;
    std::string answer;
    switch (ControlSocket::send(path, "announce " + text, answer)) {
    case ControlSocket::SendResult::Answered:
        if (answer == "ok") {
            out << "The running server took the announcement.\n";
            return kExitDone;
        }
        err << "The server refused the announcement: " << answer << '\n';
        return kExitFailed;
    case ControlSocket::SendResult::NoServer:
        err << "No server is running with the control socket " << path << " (" << answer << ").\n";
        return kExitFailed;
    case ControlSocket::SendResult::Failed:
        break;
    }
    err << "The announcement did not reach the server: " << answer << '\n';
    return kExitFailed;
}

int changeAccounts(const ServerOptions& options, std::istream& in, std::ostream& out, std::ostream& err) {
    std::string key;
    if (options.admin != AdminAction::ListUsers) {
        std::string problem;
        const auto formed = userKey(options.adminArgument, &problem);
        if (!formed) {
            err << "'" << options.adminArgument << "' cannot be a user name: " << problem << '\n';
            return kExitUsage;
        }
        key = *formed;
    }
    const auto storage = SqliteStorage::open(options.config.databasePath);
    if (!storage) {
        err << "Cannot open the database " << options.config.databasePath << " (the line above says why).\n";
        return kExitFailed;
    }
    const auto failed = [&err] {
        err << "The database refused the change (the line above says why).\n";
        return kExitFailed;
    };
    const auto unknown = [&err, &key] {
        err << "No user named " << key << " is registered.\n";
        return kExitFailed;
    };

    switch (options.admin) {
    case AdminAction::ListUsers:
        for (const std::string& user : storage->listUsers())
            out << user << '\n';
        return kExitDone;
    case AdminAction::DeleteUser:
        switch (storage->deleteUser(key)) {
        case StorageResult::Done:
            out << "Removed " << key << " and the notes left for it.\n";
            return kExitDone;
        case StorageResult::NotFound:
            return unknown();
        default:
            return failed();
        }
    case AdminAction::AddUser:
    case AdminAction::SetPassword: {
        const bool adding = options.admin == AdminAction::AddUser;
        // Checked before the password is asked for, so nobody types one in
        // vain; the storage checks again when it writes.
        if (adding && storage->userExists(key)) {
            err << "A user named " << key << " is already registered.\n";
            return kExitFailed;
        }
        if (!adding && !storage->userExists(key))
            return unknown();
        const auto password = readPassword(key, in, err);
        if (!password)
            return kExitUsage;
        const auto hash = hashPassword(*password);
        if (!hash) {
            err << "The password could not be hashed (the line above says why).\n";
            return kExitFailed;
        }
        const StorageResult result = adding ? storage->addUser(key, *hash, AccountProfile{})
                                            : storage->setPasswordHash(key, *hash);
        if (result == StorageResult::Done) {
            out << (adding ? "Added " : "Changed the password of ") << key << ".\n";
            return kExitDone;
        }
        if (result == StorageResult::Exists) {
            err << "A user named " << key << " is already registered.\n";
            return kExitFailed;
        }
        return result == StorageResult::NotFound ? unknown() : failed();
    }
    case AdminAction::None:
    case AdminAction::Announce:
        break;
    }
    return kExitUsage;
}

} // namespace

int runAdminCommand(const ServerOptions& options, std::istream& in, std::ostream& out, std::ostream& err) {
    if (options.admin == AdminAction::Announce)
        return announce(options, out, err);
    return changeAccounts(options, in, out, err);
}

} // namespace vp::server
