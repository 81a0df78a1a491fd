#include "contacts/ContactRecord.h"
#include "foundation/LittleEndian.h"

#include <cstring>
#include <utility>

namespace vp {

namespace {

// Value names of the current layout.
constexpr char kContactTypeName[] = "ContactType";
constexpr char kUserNameName[] = "UserName";
constexpr char kServerNameName[] = "ServerName";
constexpr char kDisplayNameName[] = "DisplayName";
constexpr char kAutoReplyName[] = "AutoReply";
constexpr char kAutoReplyWithIncludeName[] = "AutoReplyWithInclude";
constexpr char kAutoReplyMsgName[] = "AutoReplyMsg";
constexpr char kCommentsName[] = "Comments";
constexpr char kAllowFilesName[] = "AllowFiles";
constexpr char kPrivacyName[] = "Privacy";
constexpr char kGroupExpandedName[] = "GroupExpanded";
constexpr char kEndName[] = "End";
// Names only the version 270 layout used.
constexpr char kAcceptFilesName[] = "AcceptFiles";
constexpr char kStateName[] = "State";

bool isName(const TextString& name, const char* expected) { return name.equalsIgnoreCase(TextString(expected)); }

uint32_t writeName(RecordFile& file, const char* name) {
    return file.WriteRecord(name, static_cast<uint32_t>(std::strlen(name)));
}

uint32_t writeTextPair(RecordFile& file, const char* name, const TextString& value) {
    return writeName(file, name) && file.writeText(value) ? 1 : 0;
}

uint32_t writeNumberPair(RecordFile& file, const char* name, uint32_t value) {
    return writeName(file, name) && file.writeUint32(value) ? 1 : 0;
}

// One name item and the value item after it. At the end of the file the
// value reads as empty, which leaves a cut-off pair without effect.
uint32_t readPair(RecordFile& file, TextString& name, TextString& value) {
    return file.readText(name) && file.readText(value) ? 1 : 0;
}

// The layout always writes numbers as 4 bytes. A longer item gives its first
// four; a shorter one carries no whole number and leaves the field alone.
void takeNumber(const TextString& value, uint32_t& field) {
    if (value.length() < 4 || !value.data()) return;
    const auto* bytes = reinterpret_cast<const uint8_t*>(value.data());
    field = readLittleEndian32(bytes);
}

} // namespace

NameKey::NameKey(const TextString& userName, const TextString& serverName) {
    const TextString user = userName.collapseSeparator(' ');
    const TextString server = serverName.collapseSeparator(' ');
    if (user.isEmpty() || server.isEmpty()) return;
    m_text = (user + "@" + server).lowerCased();
    m_valid = m_text.isValid();
}

TextString NameKey::keyText(const TextString& userName, const TextString& serverName) {
    return (userName.collapseSeparator(' ') + "@" + serverName.collapseSeparator(' ')).lowerCased();
}

ByteBuffer numberField(uint32_t value) {
    uint8_t bytes[4];
    writeLittleEndian32(bytes, value);
    return ByteBuffer(bytes, 4);
}

uint32_t numberOf(const ByteBuffer& field) {
    if (field.size() != 4) return 0;
    return readLittleEndian32(field.data());
}

ContactRecord::ContactRecord() : m_address("Unknown") {}

uint32_t ContactRecord::copyProperties(const ContactRecord& other) {
    if (&other == this) return 0;
    m_displayName = other.m_displayName;
    m_autoReplyMsg = other.m_autoReplyMsg;
    m_comments = other.m_comments;
    m_privacy = other.m_privacy;
    m_allowFiles = other.m_allowFiles;
    m_autoReply = other.m_autoReply;
    m_autoReplyWithInclude = other.m_autoReplyWithInclude;
    return 1;
}

uint32_t ContactRecord::setUserName(const TextString& text) { m_userName = text; return 1; }
uint32_t ContactRecord::setServerName(const TextString& text) { m_serverName = text; return 1; }
uint32_t ContactRecord::setDisplayName(const TextString& text) { m_displayName = text; return 1; }
uint32_t ContactRecord::setAddress(const TextString& text) { m_address = text; return 1; }
uint32_t ContactRecord::setAutoReplyMsg(const TextString& text) { m_autoReplyMsg = text; return 1; }
uint32_t ContactRecord::setComments(const TextString& text) { m_comments = text; return 1; }
uint32_t ContactRecord::setNode(ContactTreeNode* node) { m_node = node; return 1; }
uint32_t ContactRecord::setHandle(ContactHandle handle) { m_handle = handle; return 1; }
uint32_t ContactRecord::setContactType(uint32_t value) { m_contactType = value; return 1; }
uint32_t ContactRecord::setOnline(uint32_t value) { m_online = value; return 1; }
uint32_t ContactRecord::setGroupExpanded(uint32_t value) { m_groupExpanded = value; return 1; }
uint32_t ContactRecord::setPrivacy(uint32_t value) { m_privacy = value; return 1; }
uint32_t ContactRecord::setAllowFiles(uint32_t value) { m_allowFiles = value; return 1; }
uint32_t ContactRecord::setAutoReply(uint32_t value) { m_autoReply = value; return 1; }
uint32_t ContactRecord::setAutoReplyWithInclude(uint32_t value) { m_autoReplyWithInclude = value; return 1; }

FieldTuple ContactRecord::indexRow(const ContactRecord* record) {
    FieldTuple row(kRowFields);
    if (!record || row.count() != kRowFields) return row;
    const TextString key = NameKey::keyText(record->m_userName, record->m_serverName);
    const ContactTreeNode* node = record->m_node;
    row.setField(kRowKey, ByteBuffer(key.c_str(), key.length()));
    row.setField(kRowReserved, numberField(0));
    row.setField(kRowNode, ByteBuffer(&node, sizeof node));
    row.setField(kRowHandle, numberField(record->m_handle));
    return row;
}

uint32_t ContactRecord::write(RecordFile& file) const {
    switch (m_contactType) {
    case ContactTypeUser:
        return writeNumberPair(file, kContactTypeName, m_contactType) &&
                       writeTextPair(file, kUserNameName, m_userName) &&
                       writeTextPair(file, kServerNameName, m_serverName) &&
                       writeTextPair(file, kDisplayNameName, m_displayName) &&
                       writeNumberPair(file, kAutoReplyName, m_autoReply) &&
                       writeNumberPair(file, kAutoReplyWithIncludeName, m_autoReplyWithInclude) &&
                       writeTextPair(file, kAutoReplyMsgName, m_autoReplyMsg) &&
                       writeTextPair(file, kCommentsName, m_comments) &&
                       writeNumberPair(file, kAllowFilesName, m_allowFiles) &&
                       writeNumberPair(file, kPrivacyName, m_privacy) &&
                       writeNumberPair(file, kEndName, kContactLayoutVersion)
                   ? 1
                   : 0;
    case ContactTypeGroup:
        return writeNumberPair(file, kContactTypeName, m_contactType) &&
                       writeTextPair(file, kDisplayNameName, m_displayName) &&
                       writeNumberPair(file, kPrivacyName, m_privacy) &&
                       writeNumberPair(file, kGroupExpandedName, m_groupExpanded) &&
                       writeNumberPair(file, kEndName, kContactLayoutVersion)
                   ? 1
                   : 0;
    case ContactTypeGroupEnd:
        return writeNumberPair(file, kContactTypeName, m_contactType) &&
                       writeNumberPair(file, kEndName, kContactLayoutVersion)
                   ? 1
                   : 0;
    default:
        return 0;
    }
}

uint32_t ContactRecord::read(RecordFile& file) {
    while (!atEndOfRecords(file)) {
        TextString name;
        TextString value;
        if (!readPair(file, name, value)) return 0;
        if (isName(name, kEndName)) return 1;
        if (isName(name, kContactTypeName)) takeNumber(value, m_contactType);
        else if (isName(name, kGroupExpandedName)) takeNumber(value, m_groupExpanded);
        else if (isName(name, kAutoReplyWithIncludeName)) takeNumber(value, m_autoReplyWithInclude);
        else if (isName(name, kAutoReplyName)) takeNumber(value, m_autoReply);
        else if (isName(name, kAllowFilesName)) takeNumber(value, m_allowFiles);
        else if (isName(name, kPrivacyName)) takeNumber(value, m_privacy);
        else if (isName(name, kUserNameName)) m_userName = std::move(value);
        else if (isName(name, kServerNameName)) m_serverName = std::move(value);
        else if (isName(name, kDisplayNameName)) m_displayName = std::move(value);
        else if (isName(name, kAutoReplyMsgName)) m_autoReplyMsg = std::move(value);
        else if (isName(name, kCommentsName)) m_comments = std::move(value);
    }
    return 1;
}

uint32_t ContactRecord::readPrevious(RecordFile& file) {
    while (!atEndOfRecords(file)) {
        TextString name;
        TextString value;
        if (!readPair(file, name, value)) return 0;
        if (isName(name, kEndName)) break;
        if (isName(name, kUserNameName)) m_userName = std::move(value);
        else if (isName(name, kServerNameName)) m_serverName = std::move(value);
        else if (isName(name, kDisplayNameName)) m_displayName = std::move(value);
        else if (isName(name, kAutoReplyMsgName)) m_autoReplyMsg = std::move(value);
        else if (isName(name, kCommentsName)) m_comments = std::move(value);
        else if (isName(name, kAcceptFilesName)) takeNumber(value, m_allowFiles);
        else if (isName(name, kAutoReplyName)) takeNumber(value, m_autoReply);
        else if (isName(name, kStateName)) {
            // That layout numbered the states from 1 ("Default") to 3
            // ("Ignore"); a number outside them names no state and leaves
            // the default.
            uint32_t state = 0;
            takeNumber(value, state);
            if (state >= 1 && state <= 3) m_privacy = state - 1;
        }
    }
    m_contactType = ContactTypeUser;
    return 1;
}

} // namespace vp
