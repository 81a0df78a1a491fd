#include "WebRoutes.h"

#include "ServerState.h"
#include "WebForms.h"
#include "WebHost.h"
#include "WebPages.h"
#include "storage/PasswordHash.h"
#include "storage/Storage.h"

#include <boost/beast/http/field.hpp>
#include <boost/beast/http/verb.hpp>

#include <string_view>
#include <utility>

namespace vp::server {

namespace asio = boost::asio;
namespace http = boost::beast::http;

namespace {

// The search box's own limit: a longer query is cut.
constexpr std::size_t kMaxQueryLength = 127;

std::pair<std::string_view, std::string_view> splitTarget(std::string_view target) {
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) return {target, {}};
    return {target.substr(0, question), target.substr(question + 1)};
}

// The form checked here; the hash and the insert on the pool. A name that is
// taken is found before the password is hashed, which takes a while by
// design; the insert finds one taken meanwhile. outcome says what became of
// it, for the log.
asio::awaitable<AccountAnswer> createAccount(ServerState& state, const Parameters& parameters,
                                             std::string& outcome) {
    AccountForm form;
    AccountAnswer answer = checkAccountForm(parameters, state.config.serverName, form);
    if (answer == AccountAnswer::Created) {
        Storage& storage = state.storage;
        auto work = [&storage, form]() {
            if (storage.userExists(form.key)) return AccountAnswer::NameTaken;
            const auto hash = hashPassword(form.password);
            if (!hash) return AccountAnswer::ServerFailure;
            switch (storage.addUser(form.key, *hash, form.profile)) {
            case StorageResult::Done: return AccountAnswer::Created;
            case StorageResult::Exists: return AccountAnswer::NameTaken;
            default: return AccountAnswer::ServerFailure;
            }
        };
        answer = co_await state.offload(work);
    }
    const std::string name = form.key.empty() ? std::string("without a valid name") : form.key;
    outcome = "account " + name + " answered " + std::to_string(static_cast<int>(answer));
    co_return answer;
}

HttpResponse response(http::status status, std::string contentType, std::string body) {
    HttpResponse out(status, 11);
    out.set(http::field::server, "Vellumpost");
    out.set(http::field::content_type, std::move(contentType));
    out.keep_alive(false);
    out.body() = std::move(body);
    out.prepare_payload();
    return out;
}

HttpResponse htmlPage(std::string page) {
    return response(http::status::ok, "text/html; charset=windows-1252", std::move(page));
}

asio::awaitable<HttpResponse> search(ServerState& state, std::string query) {
    if (query.size() > kMaxQueryLength) query.resize(kMaxQueryLength);
    Storage& storage = state.storage;
    auto work = [&storage, query]() {
        const auto match = [&query](const AccountEntry& entry) { return matchesSearch(entry, query); };
        return storage.searchableAccounts(match, WebHost::kMaxSearchResults + 1);
    };
    std::vector<AccountEntry> found = co_await state.offload(work);
    const bool limited = found.size() > WebHost::kMaxSearchResults;
    if (limited) found.resize(WebHost::kMaxSearchResults);
    co_return htmlPage(searchPage(state.config.serverName, query, found, limited, state.config.addContactPort));
}

} // namespace

asio::awaitable<std::string> answerClientLine(ServerState& state, std::string target, std::string webAddress,
                                              std::string& outcome) {
    const auto [path, query] = splitTarget(target);
    if (path == kServerListPath) {
        outcome = "server list";
        co_return serverListReply(state.config, webAddress);
    }
    if (path == kAccountPath) {
        const Parameters parameters = parseParameters(query);
        const AccountAnswer answer = co_await createAccount(state, parameters, outcome);
        co_return accountReply(answer);
    }
    outcome = "unknown path, closed without an answer";
    co_return std::string();
}

asio::awaitable<HttpResponse> answerHttp(ServerState& state, const HttpRequest& request, std::string webAddress,
                                         std::string& outcome) {
    const std::string& serverName = state.config.serverName;
    const auto [path, query] = splitTarget(request.target());
    const bool get = request.method() == http::verb::get;
    const bool post = request.method() == http::verb::post;
    if (!get && !post) {
        HttpResponse refused = refusal(serverName, http::status::method_not_allowed, "This host takes GET and POST.");
        refused.set(http::field::allow, "GET, POST");
        co_return refused;
    }
    if (post && path == "/signup") {
        const Parameters parameters = parseParameters(request.body());
        const AccountAnswer answer = co_await createAccount(state, parameters, outcome);
        const bool created = answer == AccountAnswer::Created;
        co_return htmlPage(signUpResultPage(serverName, created, accountAnswerSentence(answer)));
    }
    if (post) {
        HttpResponse refused =
            refusal(serverName, http::status::method_not_allowed, "Only the sign-up form is posted.");
        refused.set(http::field::allow, "GET");
        co_return refused;
    }
    if (path == "/") co_return htmlPage(homePage(serverName));
    if (path == "/signup") co_return htmlPage(signUpPage(serverName));
    // The client's add-contact box opens its search address with
    // "query.html?qt=" and the words joined by "+".
    if (path == "/search" || path == "/search/" || path == "/query.html" || path == "/search/query.html") {
        const Parameters parameters = parseParameters(query);
        std::string wanted = parameter(parameters, "q");
        if (wanted.empty()) wanted = parameter(parameters, "qt");
        co_return co_await search(state, std::move(wanted));
    }
    // The client's two addresses answer a browser too, as plain text.
    if (path == kServerListPath)
        co_return response(http::status::ok, "text/plain", serverListReply(state.config, webAddress));
    if (path == kAccountPath) {
        const Parameters parameters = parseParameters(query);
        const AccountAnswer answer = co_await createAccount(state, parameters, outcome);
        co_return response(http::status::ok, "text/plain", accountReply(answer));
    }
    co_return refusal(serverName, http::status::not_found, "There is no page at this address.");
}

HttpResponse refusal(const std::string& serverName, http::status status, const std::string& sentence) {
    const std::string title = std::to_string(static_cast<unsigned>(status)) + " " +
                              std::string(http::obsolete_reason(status));
    return response(status, "text/html; charset=windows-1252", errorPage(serverName, title, sentence));
}

} // namespace vp::server
