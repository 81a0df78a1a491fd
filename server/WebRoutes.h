#pragma once
// The web host's answers, once a request has been read whole: the client's
// one-line requests and a browser's HTTP requests. Storage calls and the
// password hash run on the server's pool; the answer comes back on the
// caller's strand.

#include <boost/asio/awaitable.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <string>

namespace vp::server {

struct ServerState;

using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;
using HttpResponse = boost::beast::http::response<boost::beast::http::string_body>;

// The reply to "get <target>" (target without the line end); empty for a
// path the host does not serve. outcome says what happened, for the log.
boost::asio::awaitable<std::string> answerClientLine(ServerState& state, std::string target,
                                                     std::string webAddress, std::string& outcome);

// The response to a browser's request; outcome names an account it
// created, for the log.
boost::asio::awaitable<HttpResponse> answerHttp(ServerState& state, const HttpRequest& request,
                                                std::string webAddress, std::string& outcome);

// A page for a request the host refuses before reading it whole.
HttpResponse refusal(const std::string& serverName, boost::beast::http::status status, const std::string& sentence);

} // namespace vp::server
