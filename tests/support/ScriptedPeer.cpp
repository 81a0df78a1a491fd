#include "support/ScriptedPeer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

namespace vp::test {

namespace {

// No step waits longer than this; a script that stalls fails instead of
// hanging the test.
constexpr uint32_t kStepSeconds = 10;

} // namespace

std::string frame(uint32_t version, uint32_t code, uint32_t length) {
    return le32(version) + le32(code) + le32(length);
}

std::string yes(const std::string& data, uint32_t version) {
    return frame(version, 1, static_cast<uint32_t>(data.size())) + data;
}

std::string no(const std::string& reason, uint32_t version) {
    return frame(version, 0, static_cast<uint32_t>(reason.size())) + reason;
}

std::string hex(const std::string& bytes) {
    std::string text;
    char pair[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", static_cast<unsigned char>(bytes[i]));
        text += pair;
    }
    return text;
}

ScriptedPeer::ScriptedPeer() {
    if (m_listener.Bind(0, "127.0.0.1") == 1 && m_listener.Listen() == 1) m_port = m_listener.LocalPort();
}

ScriptedPeer::~ScriptedPeer() {
    if (m_thread.joinable()) {
        m_listener.Cancel();
        m_thread.join();
    }
}

ScriptedPeer& ScriptedPeer::add(Step step) {
    m_steps.push_back(std::move(step));
    return *this;
}

ScriptedPeer& ScriptedPeer::expect(const std::string& bytes) { return add({Step::Expect, bytes}); }

ScriptedPeer& ScriptedPeer::send(const std::string& bytes) { return add({Step::Send, bytes}); }

ScriptedPeer& ScriptedPeer::hangUp() { return add({Step::HangUp, {}}); }

ScriptedPeer& ScriptedPeer::pause(uint32_t milliseconds) { return add({Step::Pause, {}, milliseconds}); }

void ScriptedPeer::start() {
    if (m_port == 0) {
        m_failures = "the peer could not listen\n";
        return;
    }
    m_thread = std::thread([this] { play(); });
}

std::string ScriptedPeer::finish() {
    if (m_thread.joinable()) m_thread.join();
    return m_failures;
}

void ScriptedPeer::play() {
    TcpSocket connection = m_listener.Accept();
    if (!connection.IsConnected()) {
        m_failures = "no connection arrived\n";
        return;
    }
    m_failures = run(connection);
    connection.Close();
}

std::string ScriptedPeer::run(TcpSocket& connection) {
    for (size_t index = 0; index < m_steps.size(); ++index) {
        const Step& step = m_steps[index];
        const std::string where = "step " + std::to_string(index + 1) + ": ";
        switch (step.kind) {
        case Step::Expect: {
            std::string got;
            char buffer[4096];
            while (got.size() < step.bytes.size()) {
                const uint32_t wanted = static_cast<uint32_t>(std::min(sizeof buffer, step.bytes.size() - got.size()));
                const uint32_t count = connection.RecvTimed(buffer, wanted, kStepSeconds);
                if (count == 0) break;
                got.append(buffer, count);
            }
            if (got != step.bytes)
                return where + "expected " + hex(step.bytes) + "\n        got " + hex(got) + "\n";
            break;
        }
        case Step::Send: {
            size_t at = 0;
            while (at < step.bytes.size()) {
                const uint32_t sent = connection.Send(step.bytes.data() + at, static_cast<uint32_t>(step.bytes.size() - at));
                if (sent == 0) return where + "could not send\n";
                at += sent;
            }
            break;
        }
        case Step::HangUp:
            return {};
        case Step::Pause:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.milliseconds));
            break;
        }
    }
    // The script has run: the other side may close, and say nothing more.
    char extra[64];
    const uint32_t count = connection.RecvTimed(extra, sizeof extra, kStepSeconds);
    if (count > 0) return "after the script: unexpected " + hex(std::string(extra, count)) + "\n";
    if (connection.LastError() == TcpSocket::ErrTimeout) return "after the script: the connection stayed open\n";
    return {};
}

} // namespace vp::test
