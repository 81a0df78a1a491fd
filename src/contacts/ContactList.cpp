#include "contacts/ContactList.h"

#include "platform/Sound.h"

#include <utility>

namespace vp {

namespace {

template <typename T>
T& argument(const std::uintptr_t* args, uint32_t index) {
    return *reinterpret_cast<T*>(args[index]);
}

uint32_t number(const std::uintptr_t* args, uint32_t index) { return static_cast<uint32_t>(args[index]); }

// The arguments each request carries, its code included.
uint32_t argumentsOf(uint32_t code) {
    switch (code) {
    case ContactList::kQueryAllPresence:
    case ContactList::kSetAllOffline:
        return 1;
    case ContactList::kRemoveContact:
    case ContactList::kQueryPresence:
    case ContactList::kCopyTree:
        return 2;
    case ContactList::kFindContact:
    case ContactList::kGetContact:
    case ContactList::kGetUserName:
    case ContactList::kGetServerName:
    case ContactList::kGetDisplayName:
    case ContactList::kIsGroup:
    case ContactList::kIsGroupExpanded:
    case ContactList::kSetDisplayName:
    case ContactList::kSetGroupExpanded:
    case ContactList::kSetProperties:
    case ContactList::kSetVisibility:
        return 3;
    case ContactList::kMoveContact:
    case ContactList::kGetPresence:
    case ContactList::kGetRefusal:
    case ContactList::kSetOnline:
        return 4;
    case ContactList::kAddContact:
        return 5;
    case ContactList::kGetReceptionInfo:
        return 7;
    default:
        return 0;
    }
}

ByteBuffer textField(const TextString& text) { return ByteBuffer(text.c_str(), text.length()); }

} // namespace

ContactList::ContactList(const TextString& userFolder, SoundOptions& sounds, GeneralOptions& general,
                         ServerRequestPort* port)
    : m_file(userFolder), m_sounds(sounds), m_general(general), m_port(port),
      m_playSound([](const char* path) { platform::playSoundFile(path); }) {
    m_tree.setEventSink(this);
}

ContactList::~ContactList() { stop(); }

uint32_t ContactList::onStart() {
    if (!m_tree.create()) return 0;
    m_file.load(m_tree);
    return 1;
}

uint32_t ContactList::onStop() {
    m_file.save(m_tree);
    m_tree.destroy();
    return 1;
}

void ContactList::contactEvent(const QueuedEvent& event) {
    m_subject.setChanged();
    m_subject.notify(reinterpret_cast<std::uintptr_t>(&event));
}

uint32_t ContactList::handleRequest(uint32_t, uint32_t argumentCount, const std::uintptr_t* args) {
    const uint32_t code = static_cast<uint32_t>(args[0]);
    const uint32_t needed = argumentsOf(code);
    if (needed == 0 || argumentCount < needed) return 0;
    return dispatch(code, needed, args);
}

uint32_t ContactList::dispatch(uint32_t code, uint32_t count, const std::uintptr_t* args) {
    // Everything but add, remove, move, find and the walks reads or changes
    // one record: fetch a copy first, so a missing handle fails at once.
    const ContactHandle handle = count > 1 ? number(args, 1) : 0;
    ContactRecord record;
    switch (code) {
    case kAddContact:
        return m_tree.addContact(argument<const ContactRecord>(args, 1), number(args, 2), number(args, 3),
                                 argument<ContactHandle>(args, 4));
    case kRemoveContact:
        return m_tree.removeContact(handle);
    case kMoveContact:
        return m_tree.moveContact(handle, number(args, 2), number(args, 3));
    case kFindContact:
        return m_tree.findContact(argument<const TextString>(args, 1), argument<ContactHandle>(args, 2));
    case kQueryAllPresence:
        return doQueryAll();
    case kSetAllOffline:
        return doSetAllOffline();
    case kCopyTree:
        return m_tree.copyTree(argument<ContactTree::Tree>(args, 1));
    case kSetOnline:
        return doSetOnline(handle, number(args, 2), argument<const TextString>(args, 3));
    case kQueryPresence:
        return doQuery(handle);
    default:
        break;
    }
    if (!m_tree.getContact(handle, record)) return 0;
    switch (code) {
    case kGetContact:
        argument<ContactRecord>(args, 2) = record;
        return 1;
    case kGetUserName:
        argument<TextString>(args, 2) = record.getUserName();
        return 1;
    case kGetServerName:
        argument<TextString>(args, 2) = record.getServerName();
        return 1;
    case kGetDisplayName:
        argument<TextString>(args, 2) = record.getDisplayName();
        return 1;
    case kIsGroup:
        argument<uint32_t>(args, 2) = record.isUser() ? 0 : 1;
        return 1;
    case kGetPresence:
        argument<uint32_t>(args, 2) = record.getOnline();
        argument<TextString>(args, 3) = record.getAddress();
        return 1;
    case kIsGroupExpanded:
        argument<uint32_t>(args, 2) = record.getGroupExpanded();
        return 1;
    case kGetReceptionInfo:
        argument<uint32_t>(args, 2) = (record.getAutoReply() == 1 && record.getPrivacy() == kPrivacyAway) ? 1 : 0;
        argument<uint32_t>(args, 3) = record.getAutoReplyWithInclude();
        argument<uint32_t>(args, 4) = record.getAllowFiles();
        argument<uint32_t>(args, 5) = 0;
        argument<TextString>(args, 6) = record.getAutoReplyMsg();
        return 1;
    case kGetRefusal:
        argument<uint32_t>(args, 2) = record.getPrivacy();
        argument<TextString>(args, 3) = "This user has refused your communication request.";
        return 1;
    case kSetDisplayName:
    case kSetProperties: {
        const TextString name = code == kSetDisplayName ? argument<const TextString>(args, 2)
                                                        : argument<const ContactRecord>(args, 2).getDisplayName();
        m_tree.update(handle, [&](ContactRecord& stored) {
            if (code == kSetDisplayName) stored.setDisplayName(name);
            else stored.copyProperties(argument<const ContactRecord>(args, 2));
        });
        FieldTuple fields(2);
        fields.setField(0, numberField(handle));
        fields.setField(1, textField(name));
        m_tree.send(DisplayNameChanged, std::move(fields));
        return 1;
    }
    case kSetGroupExpanded: {
        const uint32_t flag = number(args, 2);
        m_tree.update(handle, [&](ContactRecord& stored) { stored.setGroupExpanded(flag); });
        FieldTuple fields(2);
        fields.setField(0, numberField(handle));
        fields.setField(1, numberField(flag));
        m_tree.send(GroupExpandedChanged, std::move(fields));
        return 1;
    }
    case kSetVisibility: {
        const uint32_t state = number(args, 2);
        m_tree.update(handle, [&](ContactRecord& stored) { stored.setPrivacy(state); });
        sendStatus(handle, record.getOnline(), state, record.getAddress());
        return 1;
    }
    default:
        return 0;
    }
}

void ContactList::sendStatus(ContactHandle handle, uint32_t online, uint32_t privacy, const TextString& address) {
    FieldTuple fields(4);
    fields.setField(0, numberField(handle));
    fields.setField(1, numberField(online));
    fields.setField(2, numberField(privacy));
    fields.setField(3, textField(address));
    m_tree.send(ContactStatusChanged, std::move(fields));
}

uint32_t ContactList::doSetOnline(ContactHandle handle, uint32_t online, const TextString& address) {
    uint32_t privacy = 0;
    const uint32_t found = m_tree.update(handle, [&](ContactRecord& stored) {
        stored.setOnline(online);
        if (online == 1) stored.setAddress(address);
        privacy = stored.getPrivacy();
    });
    if (!found) return 0;
    // The sound starts after the record lock is released: playing it may
    // take the system a moment.
    const uint32_t flag = online == 1 ? SoundOptions::kPlayOnContactConnected : SoundOptions::kPlayOnContactDisconnected;
    if (m_sounds.GetInt(flag) && m_playSound) {
        const TextString path = m_sounds.GetString(flag - SoundOptions::kFlagOffset);
        m_playSound(path.c_str());
    }
    sendStatus(handle, online, privacy, address);
    return 1;
}

uint32_t ContactList::doSetAllOffline() {
    for (const FieldTuple& row : m_tree.snapshot()) {
        const ContactHandle handle = numberOf(row.field(kRowHandle));
        uint32_t privacy = 0;
        bool user = false;
        m_tree.update(handle, [&](ContactRecord& stored) {
            user = stored.isUser() == 1;
            if (user) stored.setOnline(0);
            privacy = stored.getPrivacy();
        });
        if (user) sendStatus(handle, 0, privacy, TextString());
    }
    return 1;
}

uint32_t ContactList::doQuery(ContactHandle handle) {
    ContactRecord record;
    if (!m_port || !m_tree.getContact(handle, record) || !record.isUser()) return 0;
    std::unique_ptr<ServerRequest> request(new (std::nothrow) ServerRequest);
    if (!request) return 0;
    request->userName = m_general.GetString(GeneralOptions::kUserName);
    request->serverName = m_general.GetString(GeneralOptions::kServerName);
    request->receiverUserName = record.getUserName();
    request->receiverServerName = record.getServerName();
    request->type = kQueryStatusRequest;
    request->flags = 1;
    // A refused request stays here and is freed with the pointer.
    return m_port->postServerRequest(request);
}

uint32_t ContactList::doQueryAll() {
    for (const FieldTuple& row : m_tree.snapshot()) {
        const ContactHandle handle = numberOf(row.field(kRowHandle));
        ContactRecord record;
        if (!m_tree.getContact(handle, record) || !record.isUser()) continue;
        if (!doQuery(handle)) return 0;
    }
    return 1;
}

uint32_t ContactList::addContact(const ContactRecord& templ, ContactHandle parent, ContactHandle after,
                                 ContactHandle& handle) {
    ContactHandle fresh = 0;
    if (!post(5, kAddContact, &templ, parent, after, &fresh)) return 0;
    handle = fresh;
    return 1;
}

uint32_t ContactList::addUserContact(const TextString& userName, const TextString& serverName, ContactHandle parent,
                                     ContactHandle after, ContactHandle& handle) {
    return addNamedContact(userName, serverName, userName + "@" + serverName, parent, after, handle);
}

uint32_t ContactList::addNamedContact(const TextString& userName, const TextString& serverName,
                                      const TextString& displayName, ContactHandle parent, ContactHandle after,
                                      ContactHandle& handle) {
    ContactRecord templ;
    templ.setUserName(userName);
    templ.setServerName(serverName);
    templ.setDisplayName(displayName);
    return addContact(templ, parent, after, handle);
}

uint32_t ContactList::addGroup(const TextString& displayName, ContactHandle parent, ContactHandle after,
                               ContactHandle& handle) {
    ContactRecord templ;
    templ.setContactType(ContactTypeGroup);
    templ.setDisplayName(displayName);
    return addContact(templ, parent, after, handle);
}

uint32_t ContactList::removeContact(ContactHandle handle) { return post(2, kRemoveContact, handle); }

uint32_t ContactList::moveContact(ContactHandle handle, ContactHandle parent, ContactHandle after) {
    return post(4, kMoveContact, handle, parent, after);
}

uint32_t ContactList::findContact(const TextString& key, ContactHandle& handle) {
    ContactHandle found = 0;
    if (!post(3, kFindContact, &key, &found)) return 0;
    handle = found;
    return 1;
}

uint32_t ContactList::findContactByName(const TextString& userName, const TextString& serverName,
                                        ContactHandle& handle) {
    const NameKey key(userName, serverName);
    return key.isValid() ? findContact(key.text(), handle) : 0;
}

uint32_t ContactList::getContact(ContactHandle handle, ContactRecord& record) {
    return post(3, kGetContact, handle, &record);
}

uint32_t ContactList::getUserName(ContactHandle handle, TextString& text) {
    return post(3, kGetUserName, handle, &text);
}

uint32_t ContactList::getServerName(ContactHandle handle, TextString& text) {
    return post(3, kGetServerName, handle, &text);
}

uint32_t ContactList::getDisplayName(ContactHandle handle, TextString& text) {
    return post(3, kGetDisplayName, handle, &text);
}

uint32_t ContactList::isGroup(ContactHandle handle, uint32_t& flag) { return post(3, kIsGroup, handle, &flag); }

uint32_t ContactList::getPresence(ContactHandle handle, uint32_t& online, TextString& address) {
    return post(4, kGetPresence, handle, &online, &address);
}

uint32_t ContactList::isGroupExpanded(ContactHandle handle, uint32_t& flag) {
    return post(3, kIsGroupExpanded, handle, &flag);
}

uint32_t ContactList::getReceptionInfo(ContactHandle handle, uint32_t& autoReply, uint32_t& withInclude,
                                       uint32_t& allowFiles, uint32_t& fourth, TextString& autoReplyText) {
    return post(7, kGetReceptionInfo, handle, &autoReply, &withInclude, &allowFiles, &fourth, &autoReplyText);
}

uint32_t ContactList::getRefusal(ContactHandle handle, uint32_t& state, TextString& text) {
    return post(4, kGetRefusal, handle, &state, &text);
}

uint32_t ContactList::setDisplayName(ContactHandle handle, const TextString& text) {
    return post(3, kSetDisplayName, handle, &text);
}

uint32_t ContactList::setOnline(ContactHandle handle, uint32_t online, const TextString& address) {
    return post(4, kSetOnline, handle, online, &address);
}

uint32_t ContactList::setGroupExpanded(ContactHandle handle, uint32_t flag) {
    return post(3, kSetGroupExpanded, handle, flag);
}

uint32_t ContactList::setProperties(ContactHandle handle, const ContactRecord& record) {
    return post(3, kSetProperties, handle, &record);
}

uint32_t ContactList::setVisibility(ContactHandle handle, uint32_t state) {
    return post(3, kSetVisibility, handle, state);
}

uint32_t ContactList::queryAllPresence() { return post(1, kQueryAllPresence); }

uint32_t ContactList::queryPresence(ContactHandle handle) { return post(2, kQueryPresence, handle); }

uint32_t ContactList::setAllOffline() { return post(1, kSetAllOffline); }

uint32_t ContactList::copyTree(ContactTree::Tree& copy) { return post(2, kCopyTree, &copy); }

} // namespace vp
