#include "services/AccountCreation.h"

#include "app/MessageService.h"
#include "foundation/TcpSocket.h"
#include "settings/GeneralOptions.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

namespace vp {

namespace {

constexpr uint16_t kHttpPort = 80;
// Each send waits this long for room, each read this long for data.
constexpr uint32_t kWaitSeconds = 10;
// A ServerListURL this long or longer cannot be one the installer wrote.
constexpr uint32_t kServerListUrlLimit = 1024;
constexpr uint32_t kShortestPassword = 4;
constexpr char kVersionText[] = "3.12";

constexpr char kScheme[] = "http://";
constexpr char kServersMarker[] = "VELLUMPOST_SERVERS";
constexpr char kAnswerMarker[] = "VELLUMPOST_CREATEAC";

constexpr char kNoConnectionText[] = "Unable to make a connection. Please make sure you have an internet connection.";

struct AnswerText {
    int32_t code;
    const char* text;
};

constexpr AnswerText kAnswerTexts[] = {
    {-1, "Sorry, you are not authorized to create an account on that server.\nPlease choose a different one."},
    {0, "Your Account was successfully created."},
    {1, "That user name has already been taken.\nPlease choose a different one or choose a different server."},
    {2, "The values in the two password fields to not match. Please try again."},
    {3, "The user name that you entered is invalid. Please try again."},
    {4, "The first name that you entered is invalid. Please try again."},
    {5, "The last name that you entered is invalid. Please try again."},
    {6, "The email address that you entered is invalid. Please try again."},
    {7, "The \"comments\" that you entered are invalid. Please try again."},
    {8, "The password that you entered is invalid. Please try again."},
    {9, "The \"languages\" that you entered are invalid. Please try again."},
    {10, "The \"interests\" that you entered is invalid. Please try again."},
    {11, "The \"city\" that you entered is invalid. Please try again."},
    {12, "The \"state/province\" that you entered is invalid. Please try again."},
    {13, "The \"country\" that you entered is invalid. Please try again."},
    {14, "The home page that you entered is invalid. Please try again."},
    {255, "An unknown error occured on the server and an account could not be created. Please try a different server."},
};
constexpr char kUnknownAnswerText[] = "An unknown error occured connecting to the server.";

// The address without "http://". Only the whole scheme is dropped, so that
// a host whose name starts with "http" keeps its name.
std::string_view withoutScheme(std::string_view address) {
    if (address.substr(0, sizeof kScheme - 1) == kScheme) address.remove_prefix(sizeof kScheme - 1);
    return address;
}

// "host" or "host:port" into a NUL-terminated host and a port (80 without one).
bool splitHost(std::string_view text, char (&host)[256], uint16_t& port) {
    port = kHttpPort;
    const size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        const std::string_view digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 5) return false;
        uint32_t value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<uint32_t>(c - '0');
        }
        if (value == 0 || value > 65535) return false;
        port = static_cast<uint16_t>(value);
        text = text.substr(0, colon);
    }
    if (text.empty() || text.size() >= sizeof host) return false;
    std::memcpy(host, text.data(), text.size());
    host[text.size()] = '\0';
    return true;
}

// The number that follows at (blanks before it allowed), clamped to 32 bits:
// false when no digit follows.
bool readNumber(const char* at, int32_t& value) {
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(at, &end, 10);
    if (end == at) return false;
    value = number > INT32_MAX ? INT32_MAX : number < INT32_MIN ? INT32_MIN : static_cast<int32_t>(number);
    return true;
}

bool isAsciiAlphanumeric(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

TextString textOf(std::string_view text) { return TextString(text.data(), static_cast<uint32_t>(text.size())); }

} // namespace

uint32_t httpGet(const char* address, char* buffer, uint32_t& size) {
    if (!address || !buffer || size == 0) return 0;
    const std::string_view text = withoutScheme(address);
    const size_t slash = text.find('/');
    if (slash == std::string_view::npos) return 0;

    char host[256];
    uint16_t port = 0;
    TcpSocket socket;
    if (!splitHost(text.substr(0, slash), host, port) || socket.IsValid() != 1 || socket.Connect(host, port) != 1) {
        showInfo(kNoConnectionText);
        return 0;
    }

    const TextString line = TextString("get ") + textOf(text.substr(slash)) + "\n";
    if (!line.isValid()) return 0;
    uint32_t sent = 0;
    while (sent < line.length()) {
        const uint32_t count = socket.SendTimed(line.c_str() + sent, line.length() - sent, kWaitSeconds);
        if (count == 0) return 0;
        sent += count;
    }

    // The peer's close ends the reply; a reply that does not fit is cut.
    uint32_t stored = 0;
    while (stored < size - 1) {
        const uint32_t count = socket.RecvTimed(buffer + stored, size - 1 - stored, kWaitSeconds);
        if (count == 0) break;
        stored += count;
    }
    buffer[stored] = '\0';
    size = stored;
    socket.Close();
    return 1;
}

uint32_t appendParameter(TextString& buffer, const char* name, const char* value) {
    if (!name || !value || !*name || !*value) return 1;
    static constexpr char kHex[] = "0123456789ABCDEF";
    const size_t nameLength = std::strlen(name);
    const size_t valueLength = std::strlen(value);
    ByteBuffer scratch(static_cast<uint32_t>(nameLength + 2 + 3 * valueLength));
    if (scratch.size() == 0) return 0;
    char* out = reinterpret_cast<char*>(scratch.data());
    *out++ = '&';
    std::memcpy(out, name, nameLength);
    out += nameLength;
    *out++ = '=';
    for (size_t i = 0; i < valueLength; ++i) {
        const auto byte = static_cast<unsigned char>(value[i]);
        if (isAsciiAlphanumeric(byte)) {
            *out++ = static_cast<char>(byte);
        } else {
            *out++ = '%';
            *out++ = kHex[byte >> 4];
            *out++ = kHex[byte & 0xF];
        }
    }
    const char* start = reinterpret_cast<const char*>(scratch.data());
    TextString joined = buffer + TextString(start, static_cast<uint32_t>(out - start));
    if (!joined.isValid()) return 0;
    buffer = std::move(joined);
    return 1;
}

ServerListResult parseServerList(const char* reply, std::vector<ServerEntry>& entries) {
    entries.clear();
    const std::string_view text(reply ? reply : "");
    const size_t marker = text.find(kServersMarker);
    if (marker == std::string_view::npos) return ServerListResult::NoMarker;
    size_t at = marker + sizeof kServersMarker - 1;
    int32_t count = 0;
    if (!readNumber(text.data() + at, count) || count < 1) return ServerListResult::NoServers;

    // Each entry is a URL up to a blank and a display text; one separator
    // character stands between a display text and the next "http", and the
    // last display text ends before "EOF" (blanks and line feeds dropped).
    // The loop is bounded by the text, not by the count it announced.
    at = text.find("http", at);
    for (int32_t index = 0; index < count && at != std::string_view::npos; ++index) {
        const size_t blank = text.find(' ', at);
        if (blank == std::string_view::npos) break;
        const size_t start = blank + 1;
        const size_t next = index + 1 < count ? text.find("http", start) : std::string_view::npos;
        size_t end = 0;
        if (next != std::string_view::npos) {
            end = next > start ? next - 1 : start;
        } else {
            end = std::min(text.find("EOF", start), text.size());
            while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\n')) --end;
        }
        const std::string_view display = text.substr(start, end - start);
        ServerEntry entry;
        entry.url = textOf(text.substr(at, blank - at));
        entry.displayText = textOf(display);
        entry.serverName = textOf(display.substr(0, display.find(' ')));
        entries.push_back(std::move(entry));
        at = next;
    }
    return entries.empty() ? ServerListResult::NoServers : ServerListResult::Servers;
}

TextString accountParameters(const AccountFormValues& values, const TextString& serverName) {
    // Twelve flags: "11" or "01" for the searchable box, then the
    // visibility boxes in their order.
    char flags[2 + AccountFormValues::VisibilityCount + 1] = {};
    flags[0] = values.searchable ? '1' : '0';
    flags[1] = '1';
    for (uint32_t i = 0; i < AccountFormValues::VisibilityCount; ++i) flags[2 + i] = values.visible[i] ? '1' : '0';

    const std::pair<const char*, const TextString*> fields[] = {
        {"SVR", &serverName},
        {"UNAME", &values.userName},
        {"PW", &values.password},
        {"FNAME", &values.firstName},
        {"LNAME", &values.lastName},
        {"EMAIL", &values.email},
        {"CMT", &values.comment},
        {"INT", &values.interests},
        {"LANGS", &values.languages},
        {"HCITY", &values.city},
        {"HSTATE", &values.state},
        {"HCOUNTRY", &values.country},
        {"HPURL", &values.homePage},
    };
    TextString text;
    for (const auto& [name, value] : fields)
        if (!appendParameter(text, name, value->c_str())) return TextString::none();
    if (!appendParameter(text, "SHOWFLAGS", flags) || !appendParameter(text, "VER", kVersionText))
        return TextString::none();
    return text;
}

uint32_t readAnswerCode(const char* reply, int32_t& code) {
    const char* marker = reply ? std::strstr(reply, kAnswerMarker) : nullptr;
    // A marker without a number is no answer: read as 0 it would say the
    // account was made.
    return marker && readNumber(marker + sizeof kAnswerMarker - 1, code) ? 1 : 0;
}

const char* accountAnswerText(uint32_t found, int32_t code) {
    if (found)
        for (const AnswerText& answer : kAnswerTexts)
            if (answer.code == code) return answer.text;
    return kUnknownAnswerText;
}

AccountCreation::AccountCreation(GeneralOptions& settings, AccountFormPort& form, AccountProgressPort& progress)
    : m_settings(settings), m_form(form), m_progress(progress) {}

uint32_t AccountCreation::createAccount() {
    m_servers.clear();
    m_progress.showProgress("Attempting to get a list of servers...");
    const TextString url = m_settings.GetString(GeneralOptions::kServerListURL);
    if (url.length() >= kServerListUrlLimit) {
        m_progress.closeProgress();
        showInfo("Your registry is corrupt.\nPlease reinstall the program before attempting to create an account.");
        return 0;
    }

    ByteBuffer work(kServerListBufferSize);
    uint32_t size = work.size();
    if (size == 0 || !httpGet(url.c_str(), reinterpret_cast<char*>(work.data()), size)) {
        showInfo("Sorry, unable to obtain a list of available servers.\nPlease try again later.");
        m_progress.closeProgress();
        return 0;
    }
    m_progress.closeProgress();

    switch (parseServerList(reinterpret_cast<const char*>(work.data()), m_servers)) {
    case ServerListResult::NoMarker: showInfo("Sorry, the server is not available. Please try again later."); return 0;
    case ServerListResult::NoServers: showInfo("Sorry, no servers are available at this time."); return 0;
    case ServerListResult::Servers: break;
    }
    if (m_form.runForm(m_servers, *this) != 1) return 0;
    m_settings.Save();
    return 1;
}

uint32_t AccountCreation::submit(const AccountFormValues& values) {
    if (values.userName.isEmpty()) {
        showInfo("You must enter a user name.");
        return 0;
    }
    m_settings.SetString(GeneralOptions::kUserName, values.userName);
    if (values.password.length() < kShortestPassword) {
        showInfo("Your password must be at least 4 characters long.");
        return 0;
    }
    if (!(values.password == values.confirmation)) {
        showInfo("Please make sure your password fields match.");
        return 0;
    }
    m_settings.SetString(GeneralOptions::kUserPassword, values.password);
    // The form offers only the servers of the list.
    if (values.serverIndex >= m_servers.size()) return 0;

    const ServerEntry& server = m_servers[values.serverIndex];
    const TextString parameters = accountParameters(values, server.serverName);
    const TextString address = textOf(withoutScheme(server.url.c_str())) + parameters;
    m_settings.SetString(GeneralOptions::kServerName, server.serverName);
    m_settings.Save();

    m_progress.showProgress("Attempting to create an account...");
    char reply[kAccountReplyBufferSize];
    uint32_t size = sizeof reply;
    if (!parameters.isValid() || !address.isValid() || !httpGet(address.c_str(), reply, size)) {
        showInfo("Sorry, unable to make a connection.\nPlease try a different server.");
        m_progress.closeProgress();
        return 0;
    }
    m_progress.closeProgress();
    int32_t code = 0;
    const uint32_t found = readAnswerCode(reply, code);
    showInfo(accountAnswerText(found, code));
    return found && code == 0 ? 1 : 0;
}

} // namespace vp
