#pragma once
// One note: its RTF text, its place on the screen, the other party, its
// attached file, its status line and flags. Every live record sits in the
// NoteList. The window, when there is one, is reached through NoteView.
//
// The record's data are plain fields, as the note files store them one by
// one; the handles it owns (payload, mapped and incoming attachment) are
// private. Results are 1 / 0; nothing throws.

#include "foundation/RawFile.h"
#include "foundation/TextString.h"
#include "notes/ContentBuffer.h"
#include "notes/NoteList.h"
#include "notes/NoteView.h"
#include "platform/Clock.h"
#include "platform/File.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace vp {

class NoteRecord {
public:
    static constexpr uint32_t kPayloadVersion = 5;
    static constexpr uint32_t kRectangleBlockSize = 16;
    static constexpr uint32_t kPayloadHeaderSize = 24;
    static constexpr int32_t kReplyMinimumWidth = 400;
    static constexpr int32_t kReplyMinimumHeight = 200;

    // A new note at the cascade position, status "Ready".
    NoteRecord();
    // The same, addressed to peer.
    explicit NoteRecord(const TextString& peer);
    // Closes a mapped attachment, leaves the list and destroys the window.
    ~NoteRecord();
    NoteRecord(const NoteRecord&) = delete;
    NoteRecord& operator=(const NoteRecord&) = delete;

    NoteRect rect;
    uint32_t autoReply = 0;
    uint32_t reserved1 = 0;
    uint32_t reserved2 = 0;
    uint32_t alwaysOnTop = 0;
    uint32_t visible = 1;
    uint32_t headerShown = 1;
    TextString attachmentFolder;  // ends in a backslash
    TextString attachmentName;    // empty: no attachment
    TextString status;
    ContentBuffer content;
    TextString peerName;
    uint32_t received = 0;
    uint32_t transferring = 0;

    // The sending thread sets and reads transferring while the window's
    // thread reads it and clears it (Stop), so both sides go through these.
    uint32_t loadTransferring() const {
        return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(transferring)).load();
    }
    void storeTransferring(uint32_t value) { std::atomic_ref<uint32_t>(transferring).store(value); }

    // The window, when one exists (owned by the UI).
    NoteView* window() const { return m_window; }
    void setWindow(NoteView* view) { m_window = view; }

    // Fills this fresh record as a reply to source, quoting its text. 0 when
    // memory ran out (the record then says so in its content and status).
    uint32_t ComposeReply(const NoteRecord& source);
    // A reply whose body is text; with includeSource the quoted source
    // follows it.
    uint32_t ComposeCustomReply(const NoteRecord& source, const TextString& text, uint32_t includeSource);
    // Places this reply at the screen centre keeping its size and takes the
    // source's peer and flags, without quoting.
    void Center(const NoteRecord& source);

    // The byte form for sending (kept until the next build or destruction).
    uint32_t BuildPayload(const TextString& senderName);
    const uint8_t* payload() const { return m_payload.get(); }
    uint32_t payloadSize() const { return m_payloadSize; }
    // Fills this fresh record from received bytes; 0 for any malformed payload.
    uint32_t ParsePayload(const uint8_t* bytes, uint32_t size,
                          const platform::TimeSource& clock = platform::systemTimeSource());

    // Splits a full path into attachmentFolder and attachmentName.
    void SetAttachment(const TextString& fullPath);
    uint32_t HasAttachment() const;
    void SetStatus(const TextString& text);
    const TextString& GetStatus();
    void LabelStatus(const TextString& label);
    // Refreshes the record from its window, or makes one. 0 on failure.
    uint32_t EnsureWindow();

    // The attachment, mapped read-only for sending. error receives a nonzero
    // code on failure.
    uint32_t MapAttachment(uint32_t& error);
    void UnmapAttachment();
    uint64_t AttachmentSize() const;
    const uint8_t* AttachmentData() const { return m_mapping.data(); }

    // The attachment arriving: a fresh file in receiveFolder, named after
    // attachmentName without colliding with what is there.
    uint32_t OpenIncomingAttachment(const TextString& receiveFolder);
    uint32_t WriteIncomingAttachment(const void* bytes, uint32_t count);
    uint32_t CloseIncomingAttachment();
    // Deletes the attached file when it lies in receiveFolder; forgets it
    // either way.
    void RemoveAttachment(const TextString& receiveFolder);

private:
    friend class NoteList;
    void enterList();

    NoteView* m_window = nullptr;
    std::unique_ptr<uint8_t[]> m_payload;
    uint32_t m_payloadSize = 0;
    platform::FileMapping m_mapping;
    bool m_mapped = false;
    std::unique_ptr<RawFile> m_incoming;
    NoteRecord* m_previous = nullptr;
    NoteRecord* m_next = nullptr;
};

// The time part of a status ("Received: 12:30 AM ..." gives "12:30 AM ..."):
// from the first '0', '1' or '2' followed by a digit and ':'. Empty when there
// is none.
TextString statusTimePart(const TextString& status);

// Answers source with text at once, through send, unless source came from the
// signed-in user (userName, or userName@serverName, in any letter case). 1
// when a reply was sent.
uint32_t SendAutoReply(const NoteRecord& source, const TextString& text, uint32_t includeSource,
                       const TextString& userName, const TextString& serverName,
                       const std::function<uint32_t(NoteRecord&)>& send);


} // namespace vp
