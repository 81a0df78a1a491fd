// The byte form of a note between users: a 24-byte header of six unsigned
// 32-bit little-endian values (version 5, autoReply, rectangle block size 16,
// and the lengths of sender name, RTF content and attachment name), the
// rectangle, then the three texts, contiguous and without NULs.

#include "foundation/LittleEndian.h"
#include "foundation/TimeText.h"
#include "notes/NoteRecord.h"

#include <cstring>
#include <new>

namespace vp {

uint32_t NoteRecord::BuildPayload(const TextString& senderName) {
    m_payload.reset();
    m_payloadSize = 0;
    const uint32_t nameLength = senderName.length();
    const uint32_t contentLength = content.size();
    const uint32_t attachmentLength = attachmentName.length();
    const uint64_t total = uint64_t{kPayloadHeaderSize} + kRectangleBlockSize + nameLength + contentLength +
                           attachmentLength;
    if (total > UINT32_MAX) return 0;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[total]);
    if (!bytes) return 0;

    uint8_t* at = bytes.get();
    writeLittleEndian32(at, kPayloadVersion);
    writeLittleEndian32(at + 4, autoReply ? 1u : 0u);
    writeLittleEndian32(at + 8, kRectangleBlockSize);
    writeLittleEndian32(at + 12, nameLength);
    writeLittleEndian32(at + 16, contentLength);
    writeLittleEndian32(at + 20, attachmentLength);
    writeLittleEndian32(at + 24, static_cast<uint32_t>(rect.left));
    writeLittleEndian32(at + 28, static_cast<uint32_t>(rect.top));
    writeLittleEndian32(at + 32, static_cast<uint32_t>(rect.right));
    writeLittleEndian32(at + 36, static_cast<uint32_t>(rect.bottom));
    at += kPayloadHeaderSize + kRectangleBlockSize;
    if (nameLength) std::memcpy(at, senderName.data(), nameLength);
    at += nameLength;
    if (contentLength) std::memcpy(at, content.data(), contentLength);
    at += contentLength;
    if (attachmentLength) std::memcpy(at, attachmentName.data(), attachmentLength);

    m_payload = std::move(bytes);
    m_payloadSize = static_cast<uint32_t>(total);
    return 1;
}

// Every length is checked against the bytes that are there before anything
// is copied, in 64-bit sums so that huge lengths cannot wrap. A rectangle
// block of any size but 16 is refused: every sender builds 16, and a longer
// block would otherwise shift the texts that follow it.
uint32_t NoteRecord::ParsePayload(const uint8_t* bytes, uint32_t size, const platform::TimeSource& clock) {
    received = 1;
    if (!bytes || size < 8 || readLittleEndian32(bytes) != kPayloadVersion) return 0;
    autoReply = readLittleEndian32(bytes + 4) != 0 ? 1 : 0;
    if (size < kPayloadHeaderSize) return 0;
    const uint32_t blockSize = readLittleEndian32(bytes + 8);
    if (blockSize != kRectangleBlockSize) return 0;
    const uint64_t nameLength = readLittleEndian32(bytes + 12);
    const uint64_t contentLength = readLittleEndian32(bytes + 16);
    const uint64_t attachmentLength = readLittleEndian32(bytes + 20);
    const uint64_t rectangleEnd = uint64_t{kPayloadHeaderSize} + blockSize;
    if (rectangleEnd + nameLength + contentLength + attachmentLength != size) return 0;

    const uint8_t* at = bytes + kPayloadHeaderSize;
    const NoteRect sender{static_cast<int32_t>(readLittleEndian32(at)),
                          static_cast<int32_t>(readLittleEndian32(at + 4)),
                          static_cast<int32_t>(readLittleEndian32(at + 8)),
                          static_cast<int32_t>(readLittleEndian32(at + 12))};
    at += blockSize;

    // The texts go into locals first, so that a refusal leaves no half-read
    // fields behind.
    TextString name(reinterpret_cast<const char*>(at), static_cast<uint32_t>(nameLength));
    at += nameLength;
    ContentBuffer text;
    const uint32_t textCopied = text.assign(at, static_cast<uint32_t>(contentLength));
    at += contentLength;
    TextString attachment(reinterpret_cast<const char*>(at), static_cast<uint32_t>(attachmentLength));
    if (!name.isValid() || !textCopied || !attachment.isValid()) return 0;

    // The note keeps its own cascade corner and takes the sender's size.
    rect.place(static_cast<uint32_t>(rect.left), static_cast<uint32_t>(rect.top), sender.width(), sender.height());
    peerName = std::move(name);
    content = std::move(text);
    attachmentName = std::move(attachment);
    const TextString time = StatusTimeText(clock);
    status = time.isValid() ? TextString("Received: ") + time : TextString("Unable to display received time.");
    return 1;
}

} // namespace vp
