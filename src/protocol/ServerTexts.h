#pragma once
// The texts several requests to the server leave in errorText alike.

namespace vp::server_texts {

inline constexpr char kNotResponding[] = "Sorry, cannot complete task.\n\nPossible reason: server is not responding.";
inline constexpr char kConnectionLost[] = "Sorry.  Network communication is lost.";
inline constexpr char kRefused[] = "The server has refused the connection.";

} // namespace vp::server_texts
