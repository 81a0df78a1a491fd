#pragma once
// The local add-contact page: a browser on this machine asks the client's
// HTTP listener for "/user@server", the contact is added to the list (or
// found there), shown in the contact list window, and a small page says
// what happened. The listener's worker calls serveAddContact with each
// accepted connection; the pieces that need no socket are public so that
// they can be checked on their own.

#include "contacts/ContactRecord.h"
#include "foundation/TcpSocket.h"
#include "foundation/TextString.h"

#include <cstdint>

namespace vp {

class ContactList;

// The contact list window as the add-contact page reaches it.
class ContactWindowPort {
public:
    virtual ~ContactWindowPort() = default;
    // Selects the contact (0 when none was found) and brings the window to
    // the front, as the tray's Show command does. Called from a worker thread.
    virtual void showContact(ContactHandle handle) = 0;
};

// The most bytes a request may take up to and including its empty line.
inline constexpr uint32_t kAddContactRequestLimit = 2048;
// Shown in place of a page when the request cannot be served.
inline constexpr char kAddContactBusyText[] =
    "Cannot process the request at this moment; possibly not enough memory;<BR>Please try again later.";

// The user and server of a request ("GET /user@server HTTP/1.0..."), with
// "%20" read as a blank and nothing else decoded; the server is empty when
// the target has no "@". 0 when the request line has no " HTTP" after its
// first five bytes.
uint32_t parseAddContactRequest(const TextString& request, TextString& user, TextString& server);

// The pages, as the names arrived (after "%20" was read).
TextString addedPage(const TextString& user, const TextString& server);
TextString alreadyPage(const TextString& user, const TextString& server);
TextString invalidInputPage(const TextString& user, const TextString& server);
// The whole answer that carries page.
TextString addContactResponse(const TextString& page);

// Serves one accepted connection: reads the request, adds or finds the
// contact, shows it through window, answers and closes socket. 1 when a page
// was made from the request (or the request ran past the limit), 0 when the
// handler refused it or ran out of memory. The socket object stays the
// caller's: another thread may Cancel it to end a read that waits.
uint32_t serveAddContact(TcpSocket& socket, ContactList* contacts, ContactWindowPort* window);

} // namespace vp
