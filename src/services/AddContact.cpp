#include "services/AddContact.h"

#include "contacts/ContactList.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

namespace vp {

namespace {

// The browser gets this long to read the answer before the connection is
// closed under it.
constexpr auto kCloseDelay = std::chrono::milliseconds(500);

constexpr char kPeerAllowed[] = "127.0.0.1";
// The table's header row is left open: the data row follows it directly.
constexpr char kPageHeader[] =
    "<HTML><HEAD><TITLE>Vellumpost: Add a Contact</TITLE></HEAD><BODY BGCOLOR=\"#AAB9E3\"><H2>Vellumpost: Add a "
    "Contact</H2><HR><TABLE BORDER=2><TR BGCOLOR=\"#8C9FD9\"><TD><FONT=+2>Name</FONT></TD><TD>Server</TD>";
constexpr char kInvalidInputStart[] =
    "<HTML><HEAD><TITLE>Vellumpost: Add a Contact</TITLE></HEAD><BODY BGCOLOR=\"#AAB9E3\"><H2>Vellumpost: Add a "
    "Contact</H2><HR>An invalid input has received: \"";
constexpr char kInvalidInputEnd[] = "\"</BODY></HTML>";
// Both endings close with "<HTML>" rather than a closing tag; browsers have
// always shown them as they are.
constexpr char kAddedEnding[] = "</TABLE><BR><H3>Has been added to your contact list!</H3><HR></BODY><HTML>";
constexpr char kAlreadyEnding[] = "</TABLE><BR><H3>Is already in your contact list!</H3><HR></BODY><HTML>";
constexpr char kEmptyLine[] = "\r\n\r\n";

TextString tablePage(const TextString& user, const TextString& server, const char* ending) {
    return TextString(kPageHeader) + "<TR><TD>" + user + "</TD><TD>" + server + "</TD></TR>" + ending;
}

// A name as the contact list keys it: blanks trimmed and runs of them made
// one, A-Z lower-cased.
TextString keyForm(const TextString& name) { return name.collapseSeparator(' ').lowerCased(); }

enum class Reading { Complete, TooLong, NoMemory };

// Reads one byte at a time, so that nothing after the empty line is taken,
// until the empty line, the peer's close or the limit.
Reading readRequest(TcpSocket& socket, TextString& request) {
    ByteBuffer buffer(kAddContactRequestLimit);
    if (buffer.size() != kAddContactRequestLimit) return Reading::NoMemory;
    char* bytes = reinterpret_cast<char*>(buffer.data());
    uint32_t stored = 0;
    for (;;) {
        if (stored >= 4 && std::memcmp(bytes + stored - 4, kEmptyLine, 4) == 0) break;
        if (stored == kAddContactRequestLimit) return Reading::TooLong;
        if (socket.Recv(bytes + stored, 1) == 0) break;
        ++stored;
    }
    request = TextString(bytes, stored);
    return request.isValid() ? Reading::Complete : Reading::NoMemory;
}

// Sends the answer (when there is a page), gives the browser time to read it
// and closes the connection. A short write is not retried: the page is small
// and the browser on the other side is on this machine.
void answerAndClose(TcpSocket& socket, const TextString* page) {
    if (page) {
        const TextString response = addContactResponse(*page);
        if (!response.isEmpty()) socket.Send(response.data(), response.length());
    }
    std::this_thread::sleep_for(kCloseDelay);
    socket.Close();
}

} // namespace

uint32_t parseAddContactRequest(const TextString& request, TextString& user, TextString& server) {
    const std::string_view text(request.c_str());
    // " HTTP" must end the target on the request line itself, not in a header.
    const std::string_view line = text.substr(0, text.find_first_of("\r\n"));
    // The first five bytes are the method, its blank and the slash.
    if (line.size() < 5) return 0;
    const size_t end = line.find(" HTTP", 5);
    if (end == std::string_view::npos) return 0;

    char target[kAddContactRequestLimit + 1];
    const std::string_view encoded = line.substr(5, end - 5);
    if (encoded.size() >= sizeof target) return 0;
    // "%20" is the only escape read; anything else stays as it came.
    size_t length = 0;
    for (size_t at = 0; at < encoded.size(); ++at) {
        if (encoded.compare(at, 3, "%20") == 0) {
            target[length++] = ' ';
            at += 2;
        } else {
            target[length++] = encoded[at];
        }
    }
    const std::string_view decoded(target, length);
    const size_t split = decoded.find('@');
    const std::string_view userPart = decoded.substr(0, split);
    const std::string_view serverPart = split == std::string_view::npos ? std::string_view() : decoded.substr(split + 1);
    user = TextString(userPart.data(), static_cast<uint32_t>(userPart.size()));
    server = TextString(serverPart.data(), static_cast<uint32_t>(serverPart.size()));
    return 1;
}

TextString addedPage(const TextString& user, const TextString& server) {
    return tablePage(user, server, kAddedEnding);
}

TextString alreadyPage(const TextString& user, const TextString& server) {
    return tablePage(user, server, kAlreadyEnding);
}

TextString invalidInputPage(const TextString& user, const TextString& server) {
    // The two parts run together: the "@" between them is not shown.
    return TextString(kInvalidInputStart) + user + server + kInvalidInputEnd;
}

TextString addContactResponse(const TextString& page) {
    // Header lines end with a bare line feed; the closing "\r\n" is not
    // counted in the length.
    char head[128];
    std::snprintf(head, sizeof head, "HTTP/1.0 200\nServer: Vellumpost\nContent-type: text/html\nContent-length: %u\n\n",
                  static_cast<unsigned>(page.length()));
    return TextString(head) + page + "\r\n";
}

uint32_t serveAddContact(TcpSocket& socket, ContactList* contacts, ContactWindowPort* window) {
    const TextString busy(kAddContactBusyText);

    // Only a browser on this machine may add contacts.
    char peer[16] = {};
    if (socket.PeerAddress(peer, sizeof peer) != 1 || std::strcmp(peer, kPeerAllowed) != 0) {
        answerAndClose(socket, nullptr);
        return 0;
    }

    TextString request;
    switch (readRequest(socket, request)) {
    case Reading::Complete: break;
    case Reading::TooLong:
        socket.Close();
        return 1;
    case Reading::NoMemory:
        answerAndClose(socket, &busy);
        return 0;
    }

    TextString user;
    TextString server;
    if (!parseAddContactRequest(request, user, server)) {
        answerAndClose(socket, nullptr);
        return 0;
    }

    // A part made only of blanks has an empty key: no contact can be made of
    // it, so it is as invalid as an empty part.
    const TextString userKey = keyForm(user);
    const TextString serverKey = keyForm(server);
    if (userKey.isEmpty() || serverKey.isEmpty()) {
        const TextString page = invalidInputPage(user, server);
        answerAndClose(socket, page.isValid() ? &page : &busy);
        return page.isValid() ? 1 : 0;
    }

    ContactHandle handle = 0;
    bool added = false;
    bool present = false;
    if (contacts) {
        added = contacts->addNamedContact(userKey, serverKey, userKey + "@" + serverKey, 0, 0, handle) != 0;
        present = added || contacts->findContact(userKey + "@" + serverKey, handle) != 0;
    }
    // Neither added nor found: the list could not take the contact, and the
    // page must not say it is there.
    if (!present) {
        answerAndClose(socket, &busy);
        return 0;
    }
    if (window) window->showContact(handle);

    const TextString page = added ? addedPage(user, server) : alreadyPage(user, server);
    answerAndClose(socket, page.isValid() ? &page : &busy);
    return page.isValid() ? 1 : 0;
}

} // namespace vp
