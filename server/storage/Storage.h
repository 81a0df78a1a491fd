#pragma once
// What the server keeps across restarts: accounts and the notes left for
// them. One interface, so that another database can stand behind it; the
// server reaches storage only through this class.
//
// User keys are the lower-case user names (the key the client forms). Every
// call is safe from any thread. A call that reports success has committed
// its change; a failure changes nothing.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vp::server {

// The optional user information of the account form.
struct AccountProfile {
    std::string firstName;
    std::string lastName;
    std::string email;
    std::string comment;
    std::string interests;
    std::string languages;
    std::string city;
    std::string state;
    std::string country;
    std::string homePage;
    std::string showFlags; // searchable, then one visibility flag per field
};

// An account as the people search sees it: its key and its profile.
struct AccountEntry {
    std::string key;
    AccountProfile profile;
};

enum class StorageResult {
    Done,
    NotFound,     // no such user (or note)
    Exists,       // the user is already registered
    OverQuota,    // the note would pass the user's quota
    Failed,       // the database could not do it; logged by the storage
};

// One note left for a user: its stored-note block as it arrived, and the
// id under which it is deleted once delivered.
struct StoredNote {
    int64_t id = 0;
    std::vector<uint8_t> block;
};

class Storage {
public:
    virtual ~Storage() = default;

    // passwordHash is the crypto_pwhash_str text (PasswordHash.h); the
    // storage never sees a password in clear.
    virtual StorageResult addUser(std::string_view key, std::string_view passwordHash,
                                  const AccountProfile& profile) = 0;
    // Removes the account and every note left for it.
    virtual StorageResult deleteUser(std::string_view key) = 0;
    virtual StorageResult setPasswordHash(std::string_view key, std::string_view passwordHash) = 0;
    // The stored hash; nullopt for an unknown user or a failure (logged).
    virtual std::optional<std::string> passwordHash(std::string_view key) = 0;
    virtual bool userExists(std::string_view key) = 0;
    virtual std::vector<std::string> listUsers() = 0;
    // The accounts whose show flags mark them searchable and that match
    // accepts, in the order of their keys; at most limit of them, so a
    // search holds no more than it shows.
    virtual std::vector<AccountEntry> searchableAccounts(const std::function<bool(const AccountEntry&)>& match,
                                                         std::size_t limit) = 0;

    // Keeps a note for the user when the notes already kept plus this one
    // stay within quotaBytes.
    virtual StorageResult storeNote(std::string_view key, std::span<const uint8_t> block,
                                    uint64_t quotaBytes) = 0;
    // The user's notes in the order they were left: from the first, as many
    // whole ones as fit in maxBytes together, so that a download holds no
    // more than it can send.
    virtual std::vector<StoredNote> notesFor(std::string_view key, uint64_t maxBytes = UINT64_MAX) = 0;
    // Deletes exactly these notes of this user (ids of another user's notes
    // are ignored), in one transaction.
    virtual StorageResult deleteNotes(std::string_view key, std::span<const int64_t> ids) = 0;
};

} // namespace vp::server
