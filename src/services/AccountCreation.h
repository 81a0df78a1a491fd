#pragma once
// Account creation over HTTP: the client fetches the list of servers that
// take new accounts from ServerListURL, the user picks one and fills in the
// account form, and the form goes as one request to the address the list
// gives for that server, which answers with a numeric code. The HTTP side is
// a minimal client of its own: "get " + path, no version, no headers, and
// the reply read until the peer closes.

#include "foundation/TextString.h"

#include <array>
#include <cstdint>
#include <vector>

namespace vp {

class GeneralOptions;

// The buffer the server list is read into, and the one for an answer code.
inline constexpr uint32_t kServerListBufferSize = 16384;
inline constexpr uint32_t kAccountReplyBufferSize = 256;

// Gets address ("http://host[:port]/path"; the scheme may be left off, the
// port is 80 without one) and reads the reply into buffer, NUL-terminated;
// size holds the buffer's size on the way in and the reply's length on the
// way out. 1 once the request was sent and the reply read (a reply larger
// than the buffer is cut), 0 when the address has no path, no connection
// could be made (the user is told) or the request could not be sent.
uint32_t httpGet(const char* address, char* buffer, uint32_t& size);

// Appends "&" + name + "=" + value to buffer, every byte of value but ASCII
// letters and digits written as "%XX"; nothing when either is empty.
// 1, or 0 when memory ran out (buffer is then left as it was).
uint32_t appendParameter(TextString& buffer, const char* name, const char* value);

// One server of the list.
struct ServerEntry {
    TextString url;          // where its account form goes
    TextString displayText;  // what the server combo shows
    TextString serverName;   // the display text up to its first blank
};

enum class ServerListResult { Servers, NoMarker, NoServers };

// Reads a server list reply ("VELLUMPOST_SERVERS" + count, the entries,
// "EOF"). Servers with at least one entry; entries stop early where the text
// holds fewer than the count says.
ServerListResult parseServerList(const char* reply, std::vector<ServerEntry>& entries);

// What the account form holds when "Create Account" is pressed.
struct AccountFormValues {
    // The order of the visibility boxes in SHOWFLAGS.
    enum Visibility {
        FirstNameShown, LastNameShown, EmailShown, CommentShown, LanguagesShown,
        InterestsShown, CityShown, StateShown, CountryShown, HomePageShown, VisibilityCount
    };

    TextString userName;
    TextString password;
    TextString confirmation;
    uint32_t serverIndex = 0;  // the selected server of the list
    TextString firstName, lastName, email, comment, interests, languages, city, state, country, homePage;
    bool searchable = true;
    std::array<bool, VisibilityCount> visible{true, true, true, true, true, true, true, true, true, true};
};

// The form's text after the server's address: "&SVR=" and the server name,
// the user name and password, the optional fields that are filled in,
// SHOWFLAGS and VER. Empty when memory ran out.
TextString accountParameters(const AccountFormValues& values, const TextString& serverName);

// The number after "VELLUMPOST_CREATEAC" in reply: 1 and code, or 0 when the
// marker or its number is missing.
uint32_t readAnswerCode(const char* reply, int32_t& code);
// The text shown for an answer (found 0: no answer code in the reply).
const char* accountAnswerText(uint32_t found, int32_t code);

// The small box that says what is under way.
class AccountProgressPort {
public:
    virtual ~AccountProgressPort() = default;
    virtual void showProgress(const char* text) = 0;
    virtual void closeProgress() = 0;
};

class AccountCreation;

// The account form window.
class AccountFormPort {
public:
    virtual ~AccountFormPort() = default;
    // Shows the form modally with the servers' display texts (the first one
    // selected) and hands each "Create Account" to creation.submit, closing
    // the form when that gives 1. 1 when the form closed that way, 2 when
    // the user cancelled.
    virtual uint32_t runForm(const std::vector<ServerEntry>& servers, AccountCreation& creation) = 0;
};

class AccountCreation {
public:
    AccountCreation(GeneralOptions& settings, AccountFormPort& form, AccountProgressPort& progress);

    // Fetches the server list and runs the form: 1 when an account was
    // created (UserName, UserPassword and ServerName are then in the
    // settings, saved), 0 otherwise.
    uint32_t createAccount();
    // "Create Account": checks the form, stores the names in the settings
    // and sends the request. 1 when the server created the account (the form
    // closes), 0 to stay in the form. The user is told either way.
    uint32_t submit(const AccountFormValues& values);

private:
    GeneralOptions& m_settings;
    AccountFormPort& m_form;
    AccountProgressPort& m_progress;
    std::vector<ServerEntry> m_servers;
};

} // namespace vp
