#pragma once
// Where the client finds its operator's services: the default server and the
// pages of the web host. Build-time configuration, kept here and nowhere else;
// every address on the web host is built from kWebHost. They point at a
// server on this machine.

#include <array>
#include <cstddef>

namespace vp::endpoints {

namespace detail {

// The texts one after another, as one NUL-terminated array.
template <size_t... Sizes>
constexpr std::array<char, (Sizes + ...) - sizeof...(Sizes) + 1> join(const char (&... parts)[Sizes]) {
    std::array<char, (Sizes + ...) - sizeof...(Sizes) + 1> joined{};
    size_t at = 0;
    auto append = [&](const char* part, size_t size) {
        for (size_t i = 0; i + 1 < size; ++i) joined[at++] = part[i];
    };
    (append(parts, Sizes), ...);
    return joined;
}

} // namespace detail

// The host name of the default server (ServerName).
inline constexpr char kDefaultServerHost[] = "127.0.0.1";
// The operator's web host, with its port.
inline constexpr char kWebHost[] = "127.0.0.1:8080";

inline constexpr auto kPeopleSearchPageText = detail::join("http://", kWebHost, "/search/");
inline constexpr auto kServiceHomePageText = detail::join("http://", kWebHost, "/");
inline constexpr auto kMakerHomePageText = detail::join("http://", kWebHost, "/about/");
inline constexpr char kServerListPath[] = "/cgi-bin/vellumpost/svrlist.dll";
inline constexpr auto kServerListUrlText = detail::join("http://", kWebHost, kServerListPath);

// The people-search page (FindOthersURL, SearchURL); the add-contact dialog
// appends "query.html?qt=" and the query, hence the closing slash.
inline constexpr const char* kPeopleSearchPage = kPeopleSearchPageText.data();
// The service's home page, where accounts are made (SignupURL).
inline constexpr const char* kServiceHomePage = kServiceHomePageText.data();
// The maker's home page, where the latest version is found (HomeURL).
inline constexpr const char* kMakerHomePage = kMakerHomePageText.data();
// The server list (ServerListURL).
inline constexpr const char* kServerListUrl = kServerListUrlText.data();

} // namespace vp::endpoints
