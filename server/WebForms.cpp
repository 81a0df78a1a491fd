#include "WebForms.h"

#include "AdminCommand.h"
#include "storage/UserKey.h"

#include <algorithm>

namespace vp::server {

// In the order of the show flags after the first two: first name, last
// name, e-mail, comment, languages, interests, city, state, country, home
// page. The lengths are the account form's.
const std::array<ProfileField, 10> kProfileFields = {{
    {"FNAME", "First name", 63, AccountAnswer::InvalidFirstName, &AccountProfile::firstName, 2},
    {"LNAME", "Last name", 63, AccountAnswer::InvalidLastName, &AccountProfile::lastName, 3},
    {"EMAIL", "E-mail", 127, AccountAnswer::InvalidEmail, &AccountProfile::email, 4},
    {"CMT", "Comment", 127, AccountAnswer::InvalidComment, &AccountProfile::comment, 5},
    {"LANGS", "Languages", 127, AccountAnswer::InvalidLanguages, &AccountProfile::languages, 6},
    {"INT", "Interests", 127, AccountAnswer::InvalidInterests, &AccountProfile::interests, 7},
    {"HCITY", "City", 31, AccountAnswer::InvalidCity, &AccountProfile::city, 8},
    {"HSTATE", "State/Prov", 31, AccountAnswer::InvalidState, &AccountProfile::state, 9},
    {"HCOUNTRY", "Country", 31, AccountAnswer::InvalidCountry, &AccountProfile::country, 10},
    {"HPURL", "Home page", 127, AccountAnswer::InvalidHomePage, &AccountProfile::homePage, 11},
}};

namespace {

// "1" or "0" for searchable, "1", then a visibility flag per field.
constexpr std::size_t kShowFlagCount = 2 + kProfileFields.size();

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A "%" not followed by two hexadecimal digits stays as it is.
std::string decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool holdsControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
}

// The client's SHOWFLAGS when it holds twelve flags; otherwise the sign-up
// page's check boxes, where a box left out is not ticked, so a form that
// says nothing readable makes the account private.
std::string showFlagsOf(const Parameters& parameters) {
    std::string flags = parameter(parameters, "SHOWFLAGS");
    if (flags.size() == kShowFlagCount && flags.find_first_not_of("01") == std::string::npos) return flags;
    flags = parameter(parameters, "SEARCHABLE").empty() ? "01" : "11";
    for (const ProfileField& field : kProfileFields)
        flags += parameter(parameters, std::string("SHOW") + field.parameter).empty() ? '0' : '1';
    return flags;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace

Parameters parseParameters(std::string_view text) {
    Parameters parameters;
    while (!text.empty() && parameters.size() < kMaxParameters) {
        const std::size_t end = std::min(text.find('&'), text.size());
        const std::string_view pair = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (pair.empty()) continue;
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos)
            parameters.emplace_back(decode(pair), std::string());
        else
            parameters.emplace_back(decode(pair.substr(0, equals)), decode(pair.substr(equals + 1)));
    }
    return parameters;
}

std::string parameter(const Parameters& parameters, std::string_view name) {
    for (const auto& [key, value] : parameters)
        if (key == name) return value;
    return {};
}

AccountAnswer checkAccountForm(const Parameters& parameters, const std::string& serverName, AccountForm& form) {
    const std::string server = parameter(parameters, "SVR");
    if (!server.empty() && lowered(server) != lowered(serverName)) return AccountAnswer::NotAuthorized;
    const auto key = userKey(parameter(parameters, "UNAME"));
    if (!key) return AccountAnswer::InvalidUserName;
    form.key = *key;
    form.password = parameter(parameters, "PW");
    if (form.password.size() < kMinPasswordLength || form.password.size() > kMaxPasswordLength)
        return AccountAnswer::InvalidPassword;
    // Only the sign-up page asks twice; the client compares them itself.
    const std::string confirmation = parameter(parameters, "CPW");
    if (!confirmation.empty() && confirmation != form.password) return AccountAnswer::PasswordsDiffer;
    for (const ProfileField& field : kProfileFields) {
        std::string value = parameter(parameters, field.parameter);
        if (value.size() > field.maxLength || holdsControl(value)) return field.invalid;
        form.profile.*field.member = std::move(value);
    }
    const std::string& email = form.profile.email;
    const std::size_t at = email.find('@');
    if (!email.empty() && (at == 0 || at == std::string::npos || at + 1 == email.size()))
        return AccountAnswer::InvalidEmail;
    form.profile.showFlags = showFlagsOf(parameters);
    return AccountAnswer::Created;
}

std::string accountReply(AccountAnswer answer) {
    return kAccountMarker + std::to_string(static_cast<int>(answer)) + "\n";
}

std::string accountAnswerSentence(AccountAnswer answer) {
    switch (answer) {
    case AccountAnswer::Created: return "Your account was created. Log in with the Vellumpost client.";
    case AccountAnswer::NameTaken: return "That user name is already taken. Please choose another one.";
    case AccountAnswer::PasswordsDiffer: return "The two passwords differ. Please type the same one twice.";
    case AccountAnswer::InvalidUserName:
        return "A user name is 1 to " + std::to_string(kMaxUserNameLength) +
               " printable characters without \"@\". Please choose another one.";
    case AccountAnswer::InvalidPassword:
        return "A password is " + std::to_string(kMinPasswordLength) + " to " + std::to_string(kMaxPasswordLength) +
               " characters long. Please choose another one.";
    case AccountAnswer::NotAuthorized: return "This server does not create accounts for another server.";
    case AccountAnswer::ServerFailure: break;
    default:
        for (const ProfileField& field : kProfileFields)
            if (field.invalid == answer)
                return std::string("The field \"") + field.label + "\" is not valid: at most " +
                       std::to_string(field.maxLength) + " characters on one line" +
                       (answer == AccountAnswer::InvalidEmail ? ", with an \"@\" between name and host." : ".");
        break;
    }
    return "The server could not create the account. Please try again later.";
}

std::string webAddressOf(const ServerConfig& config, uint16_t boundPort) {
    if (!config.webAddress.empty()) return config.webAddress;
    if (boundPort == 80) return config.serverName;
    return config.serverName + ":" + std::to_string(boundPort);
}

// The client reads each entry's URL up to its blank and its display text
// up to the one separator before the next "http"; the server name is the
// display text up to its first blank.
std::string serverListReply(const ServerConfig& config, const std::string& webAddress) {
    std::string entries = "http://" + webAddress + std::string(kAccountPath) + "? " + config.serverName + "\n";
    for (const std::string& server : config.listedServers) entries += server + "\n";
    return kServersMarker + std::to_string(1 + config.listedServers.size()) + "\n" + entries + "EOF\n";
}

// Every word of the query is found in the user name or a shown field.
bool matchesSearch(const AccountEntry& entry, std::string_view query) {
    std::vector<std::string> texts{lowered(entry.key)};
    for (const auto& [label, value] : shownFields(entry.profile)) texts.push_back(lowered(value));
    const std::string wanted = lowered(query);
    for (std::size_t at = 0; at < wanted.size();) {
        const std::size_t end = std::min(wanted.find(' ', at), wanted.size());
        const std::string_view word = std::string_view(wanted).substr(at, end - at);
        at = end + 1;
        if (word.empty()) continue;
        const auto holds = [word](const std::string& text) { return text.find(word) != std::string::npos; };
        if (std::none_of(texts.begin(), texts.end(), holds)) return false;
    }
    return true;
}

std::vector<std::pair<std::string, std::string>> shownFields(const AccountProfile& profile) {
    std::vector<std::pair<std::string, std::string>> shown;
    for (const ProfileField& field : kProfileFields) {
        const std::string& value = profile.*field.member;
        if (!value.empty() && profile.showFlags.size() > field.showFlag && profile.showFlags[field.showFlag] == '1')
            shown.emplace_back(field.label, value);
    }
    return shown;
}

} // namespace vp::server
