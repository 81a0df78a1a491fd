#pragma once
// The other side of a conversation, played from a script over a real
// loopback socket: the peer listens on 127.0.0.1 at a port the system picks,
// accepts one connection and runs its steps in order. It checks every byte
// it reads against the script and, once the script has run, that the other
// side closes without sending anything more. finish() returns what went
// wrong, or an empty text.

#include "foundation/TcpSocket.h"
#include "support/Bytes.h"

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace vp::test {

// A 12-byte block written out.
std::string frame(uint32_t version, uint32_t code, uint32_t length);
// The system's own version word, EC FF 13 00.
inline constexpr uint32_t kOwnVersion = 0x0013FFEC;
// A reply block with its text.
std::string yes(const std::string& data = "", uint32_t version = kOwnVersion);
std::string no(const std::string& reason = "", uint32_t version = kOwnVersion);
// Bytes as "EC FF 13 00 ...", for failure messages.
std::string hex(const std::string& bytes);

class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // Steps, added before start().
    ScriptedPeer& expect(const std::string& bytes);
    ScriptedPeer& send(const std::string& bytes);
    // Ends the conversation here, as a peer that goes away would.
    ScriptedPeer& hangUp();
    // Waits this long before the next step.
    ScriptedPeer& pause(uint32_t milliseconds);

    void start();
    uint16_t port() const { return m_port; }
    // Waits for the script to end; the failures, one per line.
    std::string finish();

private:
    struct Step {
        enum Kind { Expect, Send, HangUp, Pause } kind;
        std::string bytes;
        uint32_t milliseconds = 0;
    };
    ScriptedPeer& add(Step step);
    void play();
    std::string run(TcpSocket& connection);

    TcpSocket m_listener;
    uint16_t m_port = 0;
    std::vector<Step> m_steps;
    std::thread m_thread;
    std::string m_failures;
};

} // namespace vp::test
