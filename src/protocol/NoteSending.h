#pragma once
// The note's side of a send: where it goes, the thread that sends it, and
// what the note and its window show afterwards. The wire exchanges are
// ClientProtocol's.

#include "foundation/TextString.h"
#include "protocol/NoteReception.h"
#include "protocol/ProtocolPorts.h"

#include <cstdint>

namespace vp {

class NoteRecord;

// Where a note addressed to peerName goes: host is the receiver's server,
// or the receiver's dotted address; peerName is the user part alone.
struct NoteDestination {
    TextString host;
    TextString peerName;
};
// A dotted address is used as it is; "user@server" is split at the last
// "@", each part with its spaces collapsed and trimmed; a bare user name is
// on signedInServer.
NoteDestination resolveDestination(const TextString& peerName, const TextString& signedInServer);

// The name the receiver knows this user by: user@server, as the signed-in
// user and server in context's general options, or the user alone when
// there is no server.
TextString noteSenderName(const ProtocolContext& context);

// The user pressed Send: the note gets its window and a thread of its own
// that runs SendWork. 0 when either could not be made (the user was told).
// The note and what context points to must outlive the thread; the window's
// sending state keeps the note from being deleted meanwhile.
uint32_t Send(NoteRecord& note, const ProtocolContext& context);

// The send itself, on the calling thread: 1 sent (the status line says
// "Sent: " and the time), 0 not (the user was told why and the old status
// is back).
uint32_t SendWork(NoteRecord& note, const ProtocolContext& context);

// The sender of the automatic replies of a NoteReceiver: each goes at once,
// on the receiving thread, to the name the reply carries, resolved against
// the signed-in server of context's general options. 1 when it was sent.
// What context points to must outlive the receiver.
NoteReceiver::AutoReplySender autoReplySender(const ProtocolContext& context);

} // namespace vp
