#include "WebPages.h"

#include "WebForms.h"

namespace vp::server {

namespace {

std::string page(const std::string& serverName, const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"windows-1252\">\n<title>Vellumpost " +
           escapeHtml(serverName) + ": " + escapeHtml(title) + "</title>\n</head>\n<body>\n<p><a href=\"/\">Home</a> | "
           "<a href=\"/signup\">Sign up</a> | <a href=\"/search\">Find people</a></p>\n<h1>" +
           escapeHtml(title) + "</h1>\n" + body + "</body>\n</html>\n";
}

std::string textInput(const char* label, const char* name, std::size_t maxLength, const char* type = "text") {
    return std::string("<p><label>") + label + "<br><input type=\"" + type + "\" name=\"" + name + "\" maxlength=\"" +
           std::to_string(maxLength) + "\"></label></p>\n";
}

// Characters a browser sends in a path as they are; the add-contact
// address decodes nothing but "%20".
bool sentAsIs(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x7f && std::string_view("\"#%<>?\\^`{|}").find(c) == std::string_view::npos;
}

} // namespace

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string addContactLink(std::string_view key, std::string_view serverName, uint16_t port) {
    std::string link = std::string(kAddContactHost) + std::to_string(port) + "/";
    const std::string name = std::string(key) + "@" + std::string(serverName);
    for (const char c : name) {
        if (c == ' ')
            link += "%20";
        else if (sentAsIs(c))
            link += c;
        else
            return {};
    }
    return link;
}

std::string homePage(const std::string& serverName) {
    return page(serverName, "Welcome",
                "<p>This is the web host of the Vellumpost server <b>" + escapeHtml(serverName) +
                    "</b>.</p>\n<ul>\n<li><a href=\"/signup\">Create an account</a> on this server.</li>\n"
                    "<li><a href=\"/search\">Find people</a> who chose to be found, and add them to your "
                    "contact list.</li>\n</ul>\n");
}

std::string signUpPage(const std::string& serverName) {
    std::string form = "<form method=\"post\" action=\"/signup\">\n" + textInput("User name", "UNAME", 20) +
                       textInput("Password", "PW", 31, "password") +
                       textInput("Confirm password", "CPW", 31, "password") +
                       "<p>Optional information; tick what others may see.</p>\n";
    for (const ProfileField& field : kProfileFields) {
        form += "<p><label>" + std::string(field.label) + "<br><input type=\"text\" name=\"" + field.parameter +
                "\" maxlength=\"" + std::to_string(field.maxLength) + "\"></label> <label><input type=\"checkbox\" "
                "name=\"SHOW" + field.parameter + "\" value=\"1\" checked> shown</label></p>\n";
    }
    form += "<p><label><input type=\"checkbox\" name=\"SEARCHABLE\" value=\"1\" checked> Allow my user "
            "information to be searchable by other users</label></p>\n<p><input type=\"submit\" value=\"Create "
            "Account\"></p>\n</form>\n";
    return page(serverName, "Create New Account", form);
}

std::string signUpResultPage(const std::string& serverName, bool created, const std::string& sentence) {
    std::string body = "<p>" + escapeHtml(sentence) + "</p>\n";
    if (!created) body += "<p><a href=\"/signup\">Back to the form</a></p>\n";
    return page(serverName, created ? "Account created" : "Account not created", body);
}

std::string searchPage(const std::string& serverName, std::string_view query, const std::vector<AccountEntry>& found,
                       bool limited, uint16_t addContactPort) {
    std::string body = "<form method=\"get\" action=\"/search\">\n<p><label>User name or information<br><input "
                       "type=\"text\" name=\"q\" maxlength=\"127\" value=\"" +
                       escapeHtml(query) + "\"></label> <input type=\"submit\" value=\"Search\"></p>\n</form>\n";
    if (found.empty()) return page(serverName, "Find people", body + "<p>Nobody found.</p>\n");
    body += "<p>Click a name to add it to the contact list of your running Vellumpost client.</p>\n<ul>\n";
    for (const AccountEntry& entry : found) {
        const std::string name = escapeHtml(entry.key + "@" + serverName);
        const std::string link = addContactLink(entry.key, serverName, addContactPort);
        body += link.empty() ? "<li>" + name : "<li><a href=\"" + escapeHtml(link) + "\">" + name + "</a>";
        for (const auto& [label, value] : shownFields(entry.profile))
            body += "<br>" + escapeHtml(label) + ": " + escapeHtml(value);
        body += "</li>\n";
    }
    body += "</ul>\n";
    if (limited) body += "<p>Only the first " + std::to_string(found.size()) + " are shown; narrow the search.</p>\n";
    return page(serverName, "Find people", body);
}

std::string errorPage(const std::string& serverName, const std::string& title, const std::string& sentence) {
    return page(serverName, title, "<p>" + escapeHtml(sentence) + "</p>\n");
}

} // namespace vp::server
