#pragma once
// What every conversation of one server shares: the settings, the storage,
// who is online, the log-in throttle, the open connections and the pool
// that runs storage calls and password hashing. Conversations and pushes
// hold it by shared_ptr, so it outlives the last of them.

#include "LiveConnections.h"
#include "LoginThrottle.h"
#include "PresenceRegistry.h"
#include "RelayTickets.h"
#include "ServerConfig.h"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace vp::server {

class Storage;

struct ServerState {
    ServerState(boost::asio::io_context& ioContext, const ServerConfig& serverConfig, Storage& serverStorage)
        : io(ioContext), config(serverConfig), storage(serverStorage),
          throttle(LoginThrottle::Limits{.freeFailures = serverConfig.failedLoginsBeforeDelay}), acceptor(ioContext) {}

    // Runs work on the pool and resumes the caller on its own strand with
    // the result: a password hash takes a noticeable time by design, and a
    // database call may wait for the disk. work must not hold the state.
    //
    // work is a named object of the caller: g++ 12 mishandles a lambda made
    // inside a co_await expression (its captures are destroyed as if they
    // had been copied bit for bit).
    template <typename Work>
    boost::asio::awaitable<std::invoke_result_t<Work&>> offload(Work& work) {
        using Result = std::invoke_result_t<Work&>;
        auto job = [work]() mutable -> boost::asio::awaitable<Result> { co_return work(); };
        co_return co_await boost::asio::co_spawn(blocking, job, boost::asio::use_awaitable);
    }
    template <typename Work>
    boost::asio::awaitable<std::invoke_result_t<Work&>> offload(Work&& work) = delete;

    boost::asio::io_context& io;
    const ServerConfig config;
    Storage& storage;
    std::shared_ptr<LiveConnections> connections = std::make_shared<LiveConnections>();
    PresenceRegistry presence;
    RelayTickets relays;
    LoginThrottle throttle;
    std::atomic<uint64_t> nextLoginId{1};
    boost::asio::ip::tcp::acceptor acceptor;
    boost::asio::thread_pool blocking{2};
};

} // namespace vp::server
