#pragma once
// One entry of the contact list: a user contact or a group, with the user's
// settings for it and the presence the network last reported. The same type
// closes a group inside the contact list file (type 2), and only there.

#include "foundation/FieldTuple.h"
#include "foundation/NodeTree.h"
#include "foundation/RecordFile.h"
#include "foundation/TextString.h"

#include <cstdint>
#include <string>

namespace vp {

// Names one record inside the model for as long as it lives; never 0. 0
// means no contact, and as a parent the top level of the list.
using ContactHandle = uint32_t;
using ContactTreeNode = NodeTree<ContactHandle>::Node;

inline constexpr uint32_t ContactTypeUser = 0;
inline constexpr uint32_t ContactTypeGroup = 1;
inline constexpr uint32_t ContactTypeGroupEnd = 2;

// Visibility states (Privacy), as every dialog names them.
inline constexpr uint32_t kPrivacyDefault = 0;  // "Default"
inline constexpr uint32_t kPrivacyAway = 1;     // "Away"
inline constexpr uint32_t kPrivacyIgnore = 2;   // "Ignore"

// The layout version that ends every record ("End" / 300) and opens the file.
inline constexpr uint32_t kContactLayoutVersion = 300;

// The index row: key text, a 32-bit 0, the tree node, the handle.
inline constexpr uint32_t kRowKey = 0;
inline constexpr uint32_t kRowReserved = 1;
inline constexpr uint32_t kRowNode = 2;
inline constexpr uint32_t kRowHandle = 3;
inline constexpr uint32_t kRowFields = 4;

// The text by which the model finds a user contact: user + "@" + server,
// each with its runs of spaces collapsed, lower-cased (A-Z only). There is
// no key when either name is empty.
class NameKey {
public:
    NameKey(const TextString& userName, const TextString& serverName);

    bool isValid() const { return m_valid; }
    const TextString& text() const { return m_text; }

    // The key text without the emptiness rule: "@" for two empty names.
    static TextString keyText(const TextString& userName, const TextString& serverName);
    // The same text written into text, whose storage is reused: false when
    // memory ran out.
    static bool writeKeyText(const TextString& userName, const TextString& serverName, std::string& text);
    // Whether both names, space-collapsed, are texts that are not empty, so
    // that they make a key.
    static bool hasBothNames(const TextString& userName, const TextString& serverName);

private:
    TextString m_text;
    bool m_valid = false;
};

// A 4-byte little-endian field, as numbers travel in rows and events.
ByteBuffer numberField(uint32_t value);
// 0 unless the field holds exactly 4 bytes.
uint32_t numberOf(const ByteBuffer& field);

class ContactRecord {
public:
    ContactRecord();
    ContactRecord(const ContactRecord& other) = default;
    ContactRecord(ContactRecord&& other) noexcept = default;
    ContactRecord& operator=(const ContactRecord& other) = default;
    ContactRecord& operator=(ContactRecord&& other) noexcept = default;

    // Copies the properties the properties dialog edits: DisplayName,
    // AutoReplyMsg, Comments, Privacy, AllowFiles, AutoReply and
    // AutoReplyWithInclude. 0 when other is this record, else 1.
    uint32_t copyProperties(const ContactRecord& other);

    const TextString& getUserName() const { return m_userName; }
    const TextString& getServerName() const { return m_serverName; }
    const TextString& getDisplayName() const { return m_displayName; }
    const TextString& getAddress() const { return m_address; }
    const TextString& getAutoReplyMsg() const { return m_autoReplyMsg; }
    const TextString& getComments() const { return m_comments; }
    ContactTreeNode* getNode() const { return m_node; }
    ContactHandle getHandle() const { return m_handle; }
    uint32_t getContactType() const { return m_contactType; }
    uint32_t getOnline() const { return m_online; }
    uint32_t getGroupExpanded() const { return m_groupExpanded; }
    uint32_t getPrivacy() const { return m_privacy; }
    uint32_t getAllowFiles() const { return m_allowFiles; }
    uint32_t getAutoReply() const { return m_autoReply; }
    uint32_t getAutoReplyWithInclude() const { return m_autoReplyWithInclude; }
    // 1 exactly when ContactType is 0.
    uint32_t isUser() const { return m_contactType == ContactTypeUser ? 1 : 0; }

    uint32_t setUserName(const TextString& text);
    uint32_t setServerName(const TextString& text);
    uint32_t setDisplayName(const TextString& text);
    uint32_t setAddress(const TextString& text);
    uint32_t setAutoReplyMsg(const TextString& text);
    uint32_t setComments(const TextString& text);
    uint32_t setNode(ContactTreeNode* node);
    uint32_t setHandle(ContactHandle handle);
    uint32_t setContactType(uint32_t value);
    uint32_t setOnline(uint32_t value);
    uint32_t setGroupExpanded(uint32_t value);
    uint32_t setPrivacy(uint32_t value);
    uint32_t setAllowFiles(uint32_t value);
    uint32_t setAutoReply(uint32_t value);
    uint32_t setAutoReplyWithInclude(uint32_t value);
    // Lower-cases (A-Z) and space-collapses UserName and ServerName, as the
    // model stores them: 1, or 0 when memory ran out.
    uint32_t normaliseNames();

    // The row the model indexes this record by; indexRow(nullptr) gives four
    // empty fields. The node field holds the pointer's own bytes.
    static FieldTuple indexRow(const ContactRecord* record);
    // The same row for a key text already built from the record's names.
    static FieldTuple indexRow(const ContactRecord& record, const std::string& keyText);

    // Writes the record as name/value pairs ended by "End" / 300: 1, or 0 at
    // the first item that fails and for a type other than 0, 1 and 2 (then
    // nothing is written).
    uint32_t write(RecordFile& file) const;
    // Reads pairs up to "End" or the end of the file: 1, or 0 when an item
    // cannot be read (the record keeps what was read until then).
    uint32_t read(RecordFile& file);
    // The same for the layout of version 270, which knew user contacts only.
    uint32_t readPrevious(RecordFile& file);

private:
    TextString m_userName;
    TextString m_serverName;
    TextString m_displayName;
    TextString m_address;
    TextString m_autoReplyMsg;
    TextString m_comments;
    ContactTreeNode* m_node = nullptr;
    ContactHandle m_handle = 0;
    uint32_t m_contactType = ContactTypeUser;
    uint32_t m_online = 0;
    uint32_t m_groupExpanded = 0;
    uint32_t m_privacy = kPrivacyDefault;
    uint32_t m_allowFiles = 1;
    uint32_t m_autoReply = 1;
    uint32_t m_autoReplyWithInclude = 1;
};

// True when the file has no record left: at its end, not merely before an
// empty record or after damage (which the next read reports).
inline bool atEndOfRecords(const RecordFile& file) {
    return file.NextLength() == 0 && file.error() == RecordFile::kErrEnd;
}

} // namespace vp
