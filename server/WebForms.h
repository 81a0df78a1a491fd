#pragma once
// What the web host reads and answers, apart from its sockets: the query
// and form texts, the account form's checks and their answer codes, the
// server list, and what a people search matches and shows.

#include "ServerConfig.h"
#include "storage/Storage.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vp::server {

// The paths the client asks for: the server list (its default address) and
// the account form the list points it to.
inline constexpr std::string_view kServerListPath = "/cgi-bin/vellumpost/svrlist.dll";
inline constexpr std::string_view kAccountPath = "/cgi-bin/vellumpost/createac.dll";
inline constexpr char kServersMarker[] = "VELLUMPOST_SERVERS";
inline constexpr char kAccountMarker[] = "VELLUMPOST_CREATEAC";

// The answer codes the client knows.
enum class AccountAnswer {
    NotAuthorized = -1, // the form names another server
    Created = 0,
    NameTaken = 1,
    PasswordsDiffer = 2,
    InvalidUserName = 3,
    InvalidFirstName = 4,
    InvalidLastName = 5,
    InvalidEmail = 6,
    InvalidComment = 7,
    InvalidPassword = 8,
    InvalidLanguages = 9,
    InvalidInterests = 10,
    InvalidCity = 11,
    InvalidState = 12,
    InvalidCountry = 13,
    InvalidHomePage = 14,
    ServerFailure = 255,
};

// One optional field of the account form: its parameter, what a page calls
// it, the form's length limit, the answer when it is refused, where the
// profile keeps it and which show flag makes it visible.
struct ProfileField {
    const char* parameter;
    const char* label;
    std::size_t maxLength;
    AccountAnswer invalid;
    std::string AccountProfile::*member;
    std::size_t showFlag;
};
extern const std::array<ProfileField, 10> kProfileFields;

// Decoded name/value pairs of a query or form text ("&"-separated; "%XX"
// and "+" decoded). A text with more than kMaxParameters pairs keeps the
// first ones.
using Parameters = std::vector<std::pair<std::string, std::string>>;
inline constexpr std::size_t kMaxParameters = 64;
Parameters parseParameters(std::string_view text);
// The first value of name; empty when absent.
std::string parameter(const Parameters& parameters, std::string_view name);

// A form that passed the checks: the user's key, password and profile.
struct AccountForm {
    std::string key;
    std::string password;
    AccountProfile profile;
};
// Checks the form's parameters (the client's: SVR, UNAME, PW, the profile
// fields, SHOWFLAGS; the sign-up page's: CPW, SEARCHABLE, SHOW + field);
// Created when form was filled in, otherwise the refusal.
AccountAnswer checkAccountForm(const Parameters& parameters, const std::string& serverName, AccountForm& form);
// The reply the client reads: the marker and the code.
std::string accountReply(AccountAnswer answer);
// A sentence for the sign-up page.
std::string accountAnswerSentence(AccountAnswer answer);

// host[:port] of the web host in the addresses it hands out.
std::string webAddressOf(const ServerConfig& config, uint16_t boundPort);
// The server list: this server first, then the operator's further ones.
std::string serverListReply(const ServerConfig& config, const std::string& webAddress);

// Whether a searchable account matches the query: each of its words is
// found (case-insensitive) in the user name or a field its owner shows. An
// empty query matches all.
bool matchesSearch(const AccountEntry& entry, std::string_view query);
// The fields the owner shows, as label and value, those filled in only.
std::vector<std::pair<std::string, std::string>> shownFields(const AccountProfile& profile);

} // namespace vp::server
