#pragma once
// Who is online: one entry per logged-in user, under the user's key, with
// the address the server sees, whether the user is reachable only through
// the relay, its relay ticket and channel; and who asked for whose presence,
// so that a change can be pushed to them. Safe from any thread; it only
// keeps records and never touches a connection itself.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vp::server {

class Conversation;

// The text others are told for a user reachable only through the relay.
inline constexpr char kRelayOnlyAddress[] = "0.0.0.0";

struct OnlineUser {
    uint64_t loginId = 0;        // tells a login apart from the one that replaced it
    std::string name;            // as the user typed it
    std::string address;         // dotted, as the server sees the session
    bool behindProxy = false;
    std::string ticket;          // the relay channel's ticket; empty when reachable
    std::weak_ptr<Conversation> session;
    std::weak_ptr<Conversation> channel;

    // What others are told: the address, or kRelayOnlyAddress.
    std::string reachableAddress() const { return behindProxy ? kRelayOnlyAddress : address; }
};

// The names under which an asker knows a user, as its status query gave
// them; pushes to it carry these, so that its contact list finds them.
struct KnownAs {
    std::string user;
    std::string server;
};

struct Watcher {
    OnlineUser asker;
    KnownAs target;
};

class PresenceRegistry {
public:
    // The most users one asker is registered for.
    static constexpr std::size_t kMaxWatchesPerAsker = 4096;

    // Puts the login in; the login it replaces, which the caller ends.
    std::optional<OnlineUser> enter(const std::string& key, OnlineUser user);
    // Takes the login out, with the asker's registrations; nullopt when
    // another login of the user has replaced it (the user stays online).
    std::optional<OnlineUser> leave(const std::string& key, uint64_t loginId);
    std::optional<OnlineUser> find(const std::string& key) const;

    struct OpenedChannel {
        std::string key;
        std::weak_ptr<Conversation> previous; // a channel the login had, which the caller ends
    };
    // Makes channel the relay channel of the login holding this ticket.
    std::optional<OpenedChannel> openChannel(std::string_view ticket, std::weak_ptr<Conversation> channel);

    // Registers the online asker for pushes of the target's presence; false
    // when the asker is not online or has too many registrations.
    bool watch(const std::string& askerKey, const std::string& targetKey, KnownAs names);
    // Takes that registration back.
    void unwatch(const std::string& askerKey, const std::string& targetKey);
    // The askers registered for the target that are online now.
    std::vector<Watcher> watchersOf(const std::string& targetKey) const;
    std::vector<OnlineUser> everyone() const;

private:
    void forgetWatches(const std::string& askerKey);

    mutable std::mutex m_mutex;
    std::unordered_map<std::string, OnlineUser> m_online;
    std::unordered_map<std::string, std::string> m_tickets;                           // ticket -> key
    std::unordered_map<std::string, std::unordered_map<std::string, KnownAs>> m_watchers; // target -> asker
    std::unordered_map<std::string, std::unordered_set<std::string>> m_watching;          // asker -> targets
};

} // namespace vp::server
