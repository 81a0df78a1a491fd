#include "contacts/ContactRecord.h"
#include "foundation/LittleEndian.h"

#include <cstddef>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

namespace vp {

namespace {

// A value name with its length: a name item is told from the others by its
// length before its letters are compared.
struct ValueName {
    template <std::size_t size>
    constexpr ValueName(const char (&name)[size]) : text(name), length(size - 1) {}
    const char* text;
    uint32_t length;
};

// Value names of the current layout.
constexpr ValueName kContactTypeName("ContactType");
constexpr ValueName kUserNameName("UserName");
constexpr ValueName kServerNameName("ServerName");
constexpr ValueName kDisplayNameName("DisplayName");
constexpr ValueName kAutoReplyName("AutoReply");
constexpr ValueName kAutoReplyWithIncludeName("AutoReplyWithInclude");
constexpr ValueName kAutoReplyMsgName("AutoReplyMsg");
constexpr ValueName kCommentsName("Comments");
constexpr ValueName kAllowFilesName("AllowFiles");
constexpr ValueName kPrivacyName("Privacy");
constexpr ValueName kGroupExpandedName("GroupExpanded");
constexpr ValueName kEndName("End");
// Names only the version 270 layout used.
constexpr ValueName kAcceptFilesName("AcceptFiles");
constexpr ValueName kStateName("State");

uint32_t writeName(RecordFile& file, ValueName name) { return file.WriteRecord(name.text, name.length); }

uint32_t writeTextPair(RecordFile& file, ValueName name, const TextString& value) {
    return writeName(file, name) && file.writeText(value) ? 1 : 0;
}

uint32_t writeNumberPair(RecordFile& file, ValueName name, uint32_t value) {
    return writeName(file, name) && file.writeUint32(value) ? 1 : 0;
}

char lowerCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Appends one name's part of a key: the name with its runs of spaces
// collapsed, cut at its first NUL as joining texts cuts them, lower-cased.
// A space before that NUL stays, as collapsing leaves it there.
void appendKeyPart(std::string& key, const TextString& name) {
    const char* bytes = name.data();
    bool pendingSpace = false;
    bool wrote = false;
    for (uint32_t i = 0; bytes && i < name.length(); ++i) {
        if (bytes[i] == ' ') {
            pendingSpace = wrote;
            continue;
        }
        if (pendingSpace) key += ' ';
        pendingSpace = false;
        if (bytes[i] == '\0') return;
        key += lowerCase(bytes[i]);
        wrote = true;
    }
}

// Whether the name, space-collapsed, is no empty text: its first byte that
// is not a space exists and is not a NUL.
bool hasWord(const TextString& name) {
    const char* bytes = name.data();
    for (uint32_t i = 0; bytes && i < name.length(); ++i) {
        if (bytes[i] != ' ') return bytes[i] != '\0';
    }
    return false;
}

// Whether collapseSeparator(' ') may change the name: names without spaces,
// the most of them, are stored without a copy.
bool mayCollapse(const TextString& name) {
    return !name.data() || std::memchr(name.data(), ' ', name.length()) != nullptr;
}

uint32_t normaliseName(TextString& name) {
    if (mayCollapse(name)) {
        name = name.collapseSeparator(' ');
        if (!name.isValid()) return 0;
    }
    for (uint32_t i = 0; i < name.length(); ++i) name.data()[i] = lowerCase(name.data()[i]);
    return 1;
}

// One item of a record as it was read. A load reads hundreds of thousands of
// names and numbers, all of them short, so those stay in place here; only a
// longer item takes a block of its own.
class Item {
public:
    // Reads the next item whatever its length: 1, or 0 when it cannot be read.
    uint32_t read(RecordFile& file) {
        const uint32_t length = file.NextLength();
        char* target = m_short;
        if (length > sizeof m_short) {
            try {
                m_long.resize(length);
            } catch (const std::exception&) {
                return 0;
            }
            target = m_long.data();
        }
        if (!file.ReadRecord(target, length)) return 0;
        m_bytes = target;
        // Read as a text, the item ends at its first NUL.
        const void* nul = length ? std::memchr(target, '\0', length) : nullptr;
        m_textLength = nul ? static_cast<uint32_t>(static_cast<const char*>(nul) - target) : length;
        m_length = length;
        return 1;
    }

    // The item read as a text equals name, A-Z and a-z alike.
    bool is(ValueName name) const {
        if (m_textLength != name.length) return false;
        for (uint32_t i = 0; i < name.length; ++i) {
            if (lowerCase(m_bytes[i]) != lowerCase(name.text[i])) return false;
        }
        return true;
    }

    // The layout always writes numbers as 4 bytes. A longer item gives its
    // first four; a shorter one carries no whole number and leaves the field
    // alone.
    void takeNumber(uint32_t& field) const {
        if (m_length >= 4) field = readLittleEndian32(reinterpret_cast<const uint8_t*>(m_bytes));
    }

private:
    char m_short[32];
    std::vector<char> m_long;
    const char* m_bytes = m_short;
    uint32_t m_length = 0;
    uint32_t m_textLength = 0;
};

struct NamedText {
    ValueName name;
    TextString* field;
};

struct NamedNumber {
    ValueName name;
    uint32_t* field;
};

template <typename Named, std::size_t count>
auto fieldNamed(const Item& name, const Named (&fields)[count]) -> decltype(fields[0].field) {
    for (const Named& named : fields) {
        if (name.is(named.name)) return named.field;
    }
    return nullptr;
}

} // namespace

NameKey::NameKey(const TextString& userName, const TextString& serverName) {
    if (!hasBothNames(userName, serverName)) return;
    m_text = keyText(userName, serverName);
    m_valid = m_text.isValid();
}

TextString NameKey::keyText(const TextString& userName, const TextString& serverName) {
    std::string text;
    if (!writeKeyText(userName, serverName, text)) return TextString::none();
    return TextString(text.data(), static_cast<uint32_t>(text.size()));
}

bool NameKey::writeKeyText(const TextString& userName, const TextString& serverName, std::string& text) {
    text.clear();
    try {
        appendKeyPart(text, userName);
        text += '@';
        appendKeyPart(text, serverName);
    } catch (const std::exception&) {
        text.clear();
        return false;
    }
    return true;
}

bool NameKey::hasBothNames(const TextString& userName, const TextString& serverName) {
    return hasWord(userName) && hasWord(serverName);
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

uint32_t ContactRecord::normaliseNames() { return normaliseName(m_userName) && normaliseName(m_serverName) ? 1 : 0; }

FieldTuple ContactRecord::indexRow(const ContactRecord* record) {
    std::string key;
    if (!record || !NameKey::writeKeyText(record->m_userName, record->m_serverName, key)) return FieldTuple(kRowFields);
    return indexRow(*record, key);
}

FieldTuple ContactRecord::indexRow(const ContactRecord& record, const std::string& keyText) {
    FieldTuple row(kRowFields);
    if (row.count() != kRowFields) return row;
    const ContactTreeNode* node = record.m_node;
    row.setField(kRowKey, ByteBuffer(keyText.data(), static_cast<uint32_t>(keyText.size())));
    row.setField(kRowReserved, numberField(0));
    row.setField(kRowNode, ByteBuffer(&node, sizeof node));
    row.setField(kRowHandle, numberField(record.m_handle));
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
    const NamedText texts[] = {{kUserNameName, &m_userName},         {kServerNameName, &m_serverName},
                               {kDisplayNameName, &m_displayName},   {kAutoReplyMsgName, &m_autoReplyMsg},
                               {kCommentsName, &m_comments}};
    const NamedNumber numbers[] = {{kContactTypeName, &m_contactType},
                                   {kGroupExpandedName, &m_groupExpanded},
                                   {kAutoReplyWithIncludeName, &m_autoReplyWithInclude},
                                   {kAutoReplyName, &m_autoReply},
                                   {kAllowFilesName, &m_allowFiles},
                                   {kPrivacyName, &m_privacy}};
    Item name;
    Item value;
    // Each pair is a name item and the value item after it. At the end of
    // the file the value reads as empty, which leaves a cut-off pair without
    // effect.
    while (!atEndOfRecords(file)) {
        if (!name.read(file)) return 0;
        // A text value is read straight into its field, which a failed read
        // leaves as it was.
        if (TextString* text = fieldNamed(name, texts)) {
            if (!file.readText(*text)) return 0;
            continue;
        }
        if (!value.read(file)) return 0;
        if (name.is(kEndName)) return 1;
        if (uint32_t* number = fieldNamed(name, numbers)) value.takeNumber(*number);
    }
    return 1;
}

uint32_t ContactRecord::readPrevious(RecordFile& file) {
    const NamedText texts[] = {{kUserNameName, &m_userName},         {kServerNameName, &m_serverName},
                               {kDisplayNameName, &m_displayName},   {kAutoReplyMsgName, &m_autoReplyMsg},
                               {kCommentsName, &m_comments}};
    const NamedNumber numbers[] = {{kAcceptFilesName, &m_allowFiles}, {kAutoReplyName, &m_autoReply}};
    Item name;
    Item value;
    while (!atEndOfRecords(file)) {
        if (!name.read(file)) return 0;
        if (TextString* text = fieldNamed(name, texts)) {
            if (!file.readText(*text)) return 0;
            continue;
        }
        if (!value.read(file)) return 0;
        if (name.is(kEndName)) break;
        if (uint32_t* number = fieldNamed(name, numbers)) {
            value.takeNumber(*number);
        } else if (name.is(kStateName)) {
            // That layout numbered the states from 1 ("Default") to 3
            // ("Ignore"); a number outside them names no state and leaves
            // the default.
            uint32_t state = 0;
            value.takeNumber(state);
            if (state >= 1 && state <= 3) m_privacy = state - 1;
        }
    }
    m_contactType = ContactTypeUser;
    return 1;
}

} // namespace vp
