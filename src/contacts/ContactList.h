#pragma once
// The one owner of the contact list while the program runs. Every operation
// is a request that the calling thread posts to the model's service thread
// and waits for; requests run one after another. Changes reach the attached
// observers as QueuedEvents (see ContactTree.h for the codes and fields),
// on the model's thread: an observer only queues them and returns.

#include "contacts/ContactListFile.h"
#include "contacts/ContactTree.h"
#include "services/ServerRequest.h"
#include "foundation/SerialService.h"
#include "foundation/Subject.h"
#include "settings/GeneralOptions.h"
#include "settings/SoundOptions.h"

#include <cstdint>
#include <functional>

namespace vp {

class ContactList final : public SerialService, private ContactEventSink {
public:
    // Request codes.
    static constexpr uint32_t kAddContact = 101;
    static constexpr uint32_t kRemoveContact = 102;
    static constexpr uint32_t kMoveContact = 103;
    static constexpr uint32_t kFindContact = 104;
    static constexpr uint32_t kGetContact = 105;
    static constexpr uint32_t kGetUserName = 108;
    static constexpr uint32_t kGetServerName = 109;
    static constexpr uint32_t kGetDisplayName = 110;
    static constexpr uint32_t kIsGroup = 111;
    static constexpr uint32_t kGetPresence = 112;
    static constexpr uint32_t kIsGroupExpanded = 113;
    static constexpr uint32_t kGetReceptionInfo = 114;
    static constexpr uint32_t kGetRefusal = 115;
    static constexpr uint32_t kSetDisplayName = 118;
    static constexpr uint32_t kSetOnline = 120;
    static constexpr uint32_t kSetGroupExpanded = 121;
    static constexpr uint32_t kSetProperties = 122;
    static constexpr uint32_t kSetVisibility = 124;
    static constexpr uint32_t kQueryAllPresence = 125;
    static constexpr uint32_t kQueryPresence = 126;
    static constexpr uint32_t kSetAllOffline = 127;
    static constexpr uint32_t kCopyTree = 128;

    using SoundPlayer = std::function<void(const char* path)>;

    // The list file lives under userFolder; the sound settings and the
    // logged-in user's names are read from the groups given; port may be
    // null (presence queries then fail).
    ContactList(const TextString& userFolder, SoundOptions& sounds, GeneralOptions& general,
                ServerRequestPort* port = nullptr);
    ~ContactList() override;

    Subject& subject() { return m_subject; }
    // Replaces the platform's sound player (tests listen here).
    void setSoundPlayer(SoundPlayer player) { m_playSound = std::move(player); }

    uint32_t addContact(const ContactRecord& templ, ContactHandle parent, ContactHandle after, ContactHandle& handle);
    uint32_t addUserContact(const TextString& userName, const TextString& serverName, ContactHandle parent,
                            ContactHandle after, ContactHandle& handle);
    uint32_t addNamedContact(const TextString& userName, const TextString& serverName, const TextString& displayName,
                             ContactHandle parent, ContactHandle after, ContactHandle& handle);
    uint32_t addGroup(const TextString& displayName, ContactHandle parent, ContactHandle after, ContactHandle& handle);
    uint32_t removeContact(ContactHandle handle);
    uint32_t moveContact(ContactHandle handle, ContactHandle parent, ContactHandle after);
    uint32_t findContact(const TextString& key, ContactHandle& handle);
    // Builds the name key here, then finds it; 0 when either name is empty.
    uint32_t findContactByName(const TextString& userName, const TextString& serverName, ContactHandle& handle);
    uint32_t getContact(ContactHandle handle, ContactRecord& record);
    uint32_t getUserName(ContactHandle handle, TextString& text);
    uint32_t getServerName(ContactHandle handle, TextString& text);
    uint32_t getDisplayName(ContactHandle handle, TextString& text);
    uint32_t isGroup(ContactHandle handle, uint32_t& flag);
    uint32_t getPresence(ContactHandle handle, uint32_t& online, TextString& address);
    uint32_t isGroupExpanded(ContactHandle handle, uint32_t& flag);
    // Auto-reply is 1 only for a contact in the "Away" state with AutoReply
    // set; the fourth flag is always 0.
    uint32_t getReceptionInfo(ContactHandle handle, uint32_t& autoReply, uint32_t& withInclude, uint32_t& allowFiles,
                              uint32_t& fourth, TextString& autoReplyText);
    uint32_t getRefusal(ContactHandle handle, uint32_t& state, TextString& text);
    uint32_t setDisplayName(ContactHandle handle, const TextString& text);
    uint32_t setOnline(ContactHandle handle, uint32_t online, const TextString& address);
    uint32_t setGroupExpanded(ContactHandle handle, uint32_t flag);
    uint32_t setProperties(ContactHandle handle, const ContactRecord& record);
    uint32_t setVisibility(ContactHandle handle, uint32_t state);
    uint32_t queryAllPresence();
    uint32_t queryPresence(ContactHandle handle);
    uint32_t setAllOffline();
    uint32_t copyTree(ContactTree::Tree& copy);

protected:
    // Creates the index and loads the list file: 0 only when the index
    // cannot be made.
    uint32_t onStart() override;
    // Saves the list file and frees the index.
    uint32_t onStop() override;

private:
    // Every request is a typed call; an argument list posted by code would
    // reach no handler.
    using SerialService::post;

    void contactEvent(const QueuedEvent& event) override;
    // Runs read(record) on the model's thread with a copy of the handle's
    // record: 1, or 0 when the handle is missing.
    template <typename Read>
    uint32_t readRecord(uint32_t code, ContactHandle handle, const Read& read);
    // On the model's thread: applies change to the record and announces name
    // as its DisplayName.
    template <typename Change>
    uint32_t rename(ContactHandle handle, const TextString& name, const Change& change);
    uint32_t doSetOnline(ContactHandle handle, uint32_t online, const TextString& address);
    uint32_t doSetAllOffline();
    uint32_t doQuery(ContactHandle handle);
    uint32_t doQueryAll();
    void sendStatus(ContactHandle handle, uint32_t online, uint32_t privacy, const TextString& address);

    ContactTree m_tree;
    ContactListFile m_file;
    Subject m_subject;
    SoundOptions& m_sounds;
    GeneralOptions& m_general;
    ServerRequestPort* m_port;
    SoundPlayer m_playSound;
};

} // namespace vp
