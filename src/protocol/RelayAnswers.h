#pragma once
// The relays this client answers for the server, each on a library thread
// of its own: the thread connects back to the server that asked, presents
// the ticket and serves the request the server then forwards, as the peer
// port would. The listener service owns one; stop() ends what is under way
// before the things the relays reach go.

#include "foundation/TcpSocket.h"
#include "protocol/ProtocolPorts.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>

namespace vp {

// The relay thread's work on the calling thread, with socket as its
// connection: nothing at all unless the job's size word is right and it
// names a server; then the answer with the ticket and the forwarded
// request, and in every case the wait for the server to close.
void RunRelayJob(const RelayJob& job, const ProtocolContext& context, TcpSocket& socket);

class RelayAnswers final : public RelayStarterPort {
public:
    RelayAnswers() = default;
    ~RelayAnswers() override { stop(); }
    RelayAnswers(const RelayAnswers&) = delete;
    RelayAnswers& operator=(const RelayAnswers&) = delete;

    uint32_t startRelayThread(std::unique_ptr<RelayJob> job, const ProtocolContext& context) override;
    // Cancels the connection of every relay under way, waits until their
    // threads are done, and refuses every later job.
    void stop();
    // Relay threads not yet done.
    uint32_t running();

private:
    void run(const RelayJob& job, const ProtocolContext& context);

    std::mutex m_lock;
    std::condition_variable m_threadDone;
    std::set<TcpSocket*> m_sockets;
    uint32_t m_threads = 0;
    bool m_stopped = false;
};

} // namespace vp
