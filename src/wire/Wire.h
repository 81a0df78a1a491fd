#pragma once
// The fixed numbers of the wire: the ports, the command codes that open a
// request, and the bound on any length the other side announces.

#include <cstdint>

namespace vp::wire {

// The server listens here.
inline constexpr uint16_t kServerPort = 5000;
// Every client listens here for notes and for the server's notices.
inline constexpr uint16_t kPeerPort = 5001;
// The local add-contact page, answering this computer only.
inline constexpr uint16_t kLocalHttpPort = 5002;

// Command codes (the second word of a request header).
inline constexpr uint32_t kProbe = 100;
inline constexpr uint32_t kAnnouncement = 101;
inline constexpr uint32_t kContactStatus = 102;
inline constexpr uint32_t kLogin = 1000;
inline constexpr uint32_t kLocate = 1002;
inline constexpr uint32_t kNoteHeader = 1003;
inline constexpr uint32_t kOpenChannel = 1009;
inline constexpr uint32_t kProxyRequest = 1011;
inline constexpr uint32_t kProxyAnswer = 1012;
inline constexpr uint32_t kChangePassword = 1013;
inline constexpr uint32_t kLeaveNote = 1014;
inline constexpr uint32_t kNoteDownLoad = 1015;
inline constexpr uint32_t kKnownContactQuery = 1016;
inline constexpr uint32_t kQueryStatus = 1017;

// Reply flags (the code word of a reply); any nonzero flag reads as YES.
inline constexpr uint32_t kNo = 0;
inline constexpr uint32_t kYes = 1;

// The largest payload, reply text or ticket taken from the other side. A
// longer announced length is refused before anything is allocated, as a
// malformed request; attachments are streamed and not bound by it.
inline constexpr uint32_t kMaxPayloadLength = 16u * 1024 * 1024;
// The longest relay ticket taken; a server hands out 32 characters.
inline constexpr uint32_t kMaxTicketLength = 256;

} // namespace vp::wire
