#include "contacts/ContactList.h"

#include "platform/Sound.h"

#include <utility>

namespace vp {

namespace {

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

template <typename Read>
uint32_t ContactList::readRecord(uint32_t code, ContactHandle handle, const Read& read) {
    return call(code, [&] {
        ContactRecord record;
        if (!m_tree.getContact(handle, record)) return 0u;
        read(record);
        return 1u;
    });
}

template <typename Change>
uint32_t ContactList::rename(ContactHandle handle, const TextString& name, const Change& change) {
    if (!m_tree.update(handle, change)) return 0;
    FieldTuple fields(2);
    fields.setField(0, numberField(handle));
    fields.setField(1, textField(name));
    m_tree.send(DisplayNameChanged, std::move(fields));
    return 1;
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
    return call(kAddContact, [&] { return m_tree.addContact(templ, parent, after, handle); });
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

uint32_t ContactList::removeContact(ContactHandle handle) {
    return call(kRemoveContact, [&] { return m_tree.removeContact(handle); });
}

uint32_t ContactList::moveContact(ContactHandle handle, ContactHandle parent, ContactHandle after) {
    return call(kMoveContact, [&] { return m_tree.moveContact(handle, parent, after); });
}

uint32_t ContactList::findContact(const TextString& key, ContactHandle& handle) {
    return call(kFindContact, [&] { return m_tree.findContact(key, handle); });
}

uint32_t ContactList::findContactByName(const TextString& userName, const TextString& serverName,
                                        ContactHandle& handle) {
    const NameKey key(userName, serverName);
    return key.isValid() ? findContact(key.text(), handle) : 0;
}

uint32_t ContactList::getContact(ContactHandle handle, ContactRecord& record) {
    return readRecord(kGetContact, handle, [&](const ContactRecord& stored) { record = stored; });
}

uint32_t ContactList::getUserName(ContactHandle handle, TextString& text) {
    return readRecord(kGetUserName, handle, [&](const ContactRecord& stored) { text = stored.getUserName(); });
}

uint32_t ContactList::getServerName(ContactHandle handle, TextString& text) {
    return readRecord(kGetServerName, handle, [&](const ContactRecord& stored) { text = stored.getServerName(); });
}

uint32_t ContactList::getDisplayName(ContactHandle handle, TextString& text) {
    return readRecord(kGetDisplayName, handle, [&](const ContactRecord& stored) { text = stored.getDisplayName(); });
}

uint32_t ContactList::isGroup(ContactHandle handle, uint32_t& flag) {
    return readRecord(kIsGroup, handle, [&](const ContactRecord& stored) { flag = stored.isUser() ? 0 : 1; });
}

uint32_t ContactList::getPresence(ContactHandle handle, uint32_t& online, TextString& address) {
    return readRecord(kGetPresence, handle, [&](const ContactRecord& stored) {
        online = stored.getOnline();
        address = stored.getAddress();
    });
}

uint32_t ContactList::isGroupExpanded(ContactHandle handle, uint32_t& flag) {
    return readRecord(kIsGroupExpanded, handle, [&](const ContactRecord& stored) { flag = stored.getGroupExpanded(); });
}

uint32_t ContactList::getReceptionInfo(ContactHandle handle, uint32_t& autoReply, uint32_t& withInclude,
                                       uint32_t& allowFiles, uint32_t& fourth, TextString& autoReplyText) {
    return readRecord(kGetReceptionInfo, handle, [&](const ContactRecord& stored) {
        autoReply = (stored.getAutoReply() == 1 && stored.getPrivacy() == kPrivacyAway) ? 1 : 0;
        withInclude = stored.getAutoReplyWithInclude();
        allowFiles = stored.getAllowFiles();
        fourth = 0;
        autoReplyText = stored.getAutoReplyMsg();
    });
}

uint32_t ContactList::getRefusal(ContactHandle handle, uint32_t& state, TextString& text) {
    return readRecord(kGetRefusal, handle, [&](const ContactRecord& stored) {
        state = stored.getPrivacy();
        text = "This user has refused your communication request.";
    });
}

uint32_t ContactList::setDisplayName(ContactHandle handle, const TextString& text) {
    return call(kSetDisplayName,
                [&] { return rename(handle, text, [&](ContactRecord& stored) { stored.setDisplayName(text); }); });
}

uint32_t ContactList::setOnline(ContactHandle handle, uint32_t online, const TextString& address) {
    return call(kSetOnline, [&] { return doSetOnline(handle, online, address); });
}

uint32_t ContactList::setGroupExpanded(ContactHandle handle, uint32_t flag) {
    return call(kSetGroupExpanded, [&] {
        if (!m_tree.update(handle, [&](ContactRecord& stored) { stored.setGroupExpanded(flag); })) return 0u;
        FieldTuple fields(2);
        fields.setField(0, numberField(handle));
        fields.setField(1, numberField(flag));
        m_tree.send(GroupExpandedChanged, std::move(fields));
        return 1u;
    });
}

uint32_t ContactList::setProperties(ContactHandle handle, const ContactRecord& record) {
    return call(kSetProperties, [&] {
        return rename(handle, record.getDisplayName(), [&](ContactRecord& stored) { stored.copyProperties(record); });
    });
}

uint32_t ContactList::setVisibility(ContactHandle handle, uint32_t state) {
    return call(kSetVisibility, [&] {
        // The status event carries the presence as it stood; only the
        // visibility changes.
        uint32_t online = 0;
        TextString address;
        const uint32_t found = m_tree.update(handle, [&](ContactRecord& stored) {
            stored.setPrivacy(state);
            online = stored.getOnline();
            address = stored.getAddress();
        });
        if (found) sendStatus(handle, online, state, address);
        return found;
    });
}

uint32_t ContactList::queryAllPresence() {
    return call(kQueryAllPresence, [this] { return doQueryAll(); });
}

uint32_t ContactList::queryPresence(ContactHandle handle) {
    return call(kQueryPresence, [&] { return doQuery(handle); });
}

uint32_t ContactList::setAllOffline() {
    return call(kSetAllOffline, [this] { return doSetAllOffline(); });
}

uint32_t ContactList::copyTree(ContactTree::Tree& copy) {
    return call(kCopyTree, [&] { return m_tree.copyTree(copy); });
}

} // namespace vp
