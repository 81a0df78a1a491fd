// Replies in RTF: the source note's own RTF header, a line "At <time>, <who>
// wrote:", and the source text with ">" at the start of every paragraph.

#include "notes/NoteRecord.h"

#include <new>
#include <string>

namespace vp {

namespace {

const char kOutOfMemoryContent[] =
    "{<Sorry.  Cannot continue right now.>\\par <Please close this note and try to reply again later.>}";

// Just past the first space that follows the first "\pard", or npos.
std::string::size_type bodyStart(const std::string& rtf) {
    const std::string::size_type pard = rtf.find("\\pard");
    if (pard == std::string::npos) return std::string::npos;
    const std::string::size_type space = rtf.find(' ', pard);
    return space == std::string::npos ? std::string::npos : space + 1;
}

std::string quoted(const NoteRecord& source) {
    const std::string rtf(source.content.data() ? source.content.data() : "", source.content.size());
    TextString timePart = statusTimePart(source.status);
    if (timePart.isEmpty()) timePart = "{\\i sometime ago}";
    const std::string peer(source.peerName.c_str());
    const std::string who = peer.substr(0, peer.find('@'));
    const std::string header = "{\n\\par \n\\par At " + std::string(timePart.c_str()) + ", " + who + " wrote:\\par }";

    std::string::size_type p = bodyStart(rtf);
    if (p == std::string::npos) return header + ">";
    std::string result = rtf.substr(0, p) + header + ">";
    for (;;) {
        const std::string::size_type paragraph = rtf.find("\\par ", p);
        if (paragraph == std::string::npos) break;
        const std::string::size_type q = paragraph + 5;
        result.append(rtf, p, q - p);
        result += '>';
        p = q;
    }
    const std::string::size_type brace = rtf.find('}', p);
    result.append(rtf, p, brace == std::string::npos ? std::string::npos : brace - p);
    if (!source.attachmentName.isEmpty()) {
        result += "Attachment Arrived As: \"";
        result += source.attachmentName.c_str();
        result += '"';
    }
    if (brace != std::string::npos) result += "\\par }";
    return result;
}

// "\par " after every line feed, so that each line of plain text stays a line.
std::string paragraphs(const TextString& text) {
    std::string result;
    for (const char* c = text.c_str(); *c; ++c) {
        result += *c;
        if (*c == '\n') result += "\\par ";
    }
    return result;
}

} // namespace

uint32_t NoteRecord::ComposeReply(const NoteRecord& source) {
    // Centred with the source's size, then at least 400 x 200.
    NoteList& list = NoteList::instance();
    const platform::ScreenSize screen = list.screen();
    const uint32_t width = source.rect.width();
    const uint32_t height = source.rect.height();
    // The minimum is compared as the signed size it has always been: a source
    // whose right edge lies left of its left edge gets the minimum.
    const auto atLeast = [](uint32_t size, int32_t minimum) {
        return static_cast<int32_t>(size) < minimum ? static_cast<uint32_t>(minimum) : size;
    };
    rect.place((screen.width - width) / 2, (screen.height - height) / 2, atLeast(width, kReplyMinimumWidth),
               atLeast(height, kReplyMinimumHeight));
    list.advanceCascade();

    reserved1 = source.reserved1;
    reserved2 = source.reserved2;
    alwaysOnTop = source.alwaysOnTop;
    visible = 1;
    headerShown = 1;
    received = 0;
    peerName = source.peerName;
    attachmentFolder = "";
    attachmentName = "";
    status = "Ready";
    transferring = 0;
    m_window = nullptr;

    try {
        const std::string text = quoted(source);
        if (text.size() <= UINT32_MAX && content.assign(text.data(), static_cast<uint32_t>(text.size())) &&
            peerName.isValid() && status.isValid()) {
            return 1;
        }
    } catch (const std::bad_alloc&) {
    }
    content.assign(kOutOfMemoryContent, sizeof kOutOfMemoryContent - 1);
    status = "Cannot continue: not enough memory";
    peerName = "";
    return 0;
}

uint32_t NoteRecord::ComposeCustomReply(const NoteRecord& source, const TextString& text, uint32_t includeSource) {
    if (!ComposeReply(source)) return 0;
    try {
        const std::string body = paragraphs(text);
        std::string result;
        if (!includeSource) {
            result = "{" + body + "}";
        } else {
            result.assign(content.data() ? content.data() : "", content.size());
            const std::string::size_type at = bodyStart(result);
            if (at == std::string::npos) result = body;
            else result.insert(at, body);
        }
        if (result.size() <= UINT32_MAX && content.assign(result.data(), static_cast<uint32_t>(result.size()))) {
            return 1;
        }
    } catch (const std::bad_alloc&) {
    }
    content.assign(kOutOfMemoryContent, sizeof kOutOfMemoryContent - 1);
    status = "Cannot continue: not enough memory";
    peerName = "";
    return 0;
}

uint32_t SendAutoReply(const NoteRecord& source, const TextString& text, uint32_t includeSource,
                       const TextString& userName, const TextString& serverName,
                       const std::function<uint32_t(NoteRecord&)>& send) {
    NoteRecord reply;
    reply.autoReply = 1;
    // Two clients of one user in away mode would otherwise answer each other
    // without end.
    if (source.peerName.equalsIgnoreCase(userName) ||
        source.peerName.equalsIgnoreCase(userName + "@" + serverName)) {
        return 0;
    }
    if (!reply.ComposeCustomReply(source, text, includeSource)) return 0;
    return send ? send(reply) : 0;
}

} // namespace vp
