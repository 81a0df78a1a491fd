#pragma once
// The pages the web host shows to browsers: plain HTML, no scripts, every
// text from a user or the configuration escaped. Texts are the client's
// single bytes, so the pages are declared windows-1252 and a browser sends
// the sign-up form in the same bytes.

#include "storage/Storage.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vp::server {

// The client's local add-contact address, which a search result links to.
inline constexpr std::string_view kAddContactHost = "http://127.0.0.1:";

std::string escapeHtml(std::string_view text);
// The add-contact link of user@server: a blank is written "%20", the only
// escape that address reads; empty when the name holds a character a
// browser would not send as it is.
std::string addContactLink(std::string_view key, std::string_view serverName, uint16_t port);

std::string homePage(const std::string& serverName);
std::string signUpPage(const std::string& serverName);
std::string signUpResultPage(const std::string& serverName, bool created, const std::string& sentence);
// The search form with query filled in, and the accounts found (limited:
// there may be more than shown).
// The links go to the add-contact port given.
std::string searchPage(const std::string& serverName, std::string_view query, const std::vector<AccountEntry>& found,
                       bool limited, uint16_t addContactPort);
std::string errorPage(const std::string& serverName, const std::string& title, const std::string& sentence);

} // namespace vp::server
