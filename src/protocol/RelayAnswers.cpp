#include "protocol/RelayAnswers.h"

#include "foundation/ThreadLib.h"

#include <utility>

namespace vp {

uint32_t RelayAnswers::startRelayThread(std::unique_ptr<RelayJob> job, const ProtocolContext& context) {
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (m_stopped || !job) return 0;
        ++m_threads;
    }
    // A thread that never runs frees the job with its entry.
    std::shared_ptr<const RelayJob> shared(std::move(job));
    const uint32_t id = ThreadLib::createThread([this, shared, context]() -> uint32_t {
        run(*shared, context);
        return 0;
    });
    if (id != 0 && ThreadLib::resume(id)) return 1;
    const std::lock_guard<std::mutex> guard(m_lock);
    --m_threads;
    m_threadDone.notify_all();
    return 0;
}

void RelayAnswers::run(const RelayJob& job, const ProtocolContext& context) {
    TcpSocket socket;
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_sockets.insert(&socket);
        if (m_stopped) socket.Cancel();
    }
    {
        const ScopedCancelAction cancel([&socket] { socket.Cancel(); });
        RunRelayJob(job, context, socket);
    }
    const std::lock_guard<std::mutex> guard(m_lock);
    m_sockets.erase(&socket);
    socket.Close();
    --m_threads;
    m_threadDone.notify_all();
}

void RelayAnswers::stop() {
    std::unique_lock<std::mutex> guard(m_lock);
    m_stopped = true;
    for (TcpSocket* socket : m_sockets) socket->Cancel();
    m_threadDone.wait(guard, [this] { return m_threads == 0; });
}

uint32_t RelayAnswers::running() {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_threads;
}

} // namespace vp
