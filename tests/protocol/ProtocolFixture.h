#pragma once
// What the protocol tests share: the socket library, a started contact model
// with one known contact, settings over a memory registry, and connections
// to a scripted peer.

#include "contacts/ContactList.h"
#include "foundation/TcpSocket.h"
#include "foundation/ThreadLib.h"
#include "platform/MemoryRegistry.h"
#include "protocol/ClientProtocol.h"
#include "settings/GeneralOptions.h"
#include "settings/SoundOptions.h"
#include "support/ScriptedMessages.h"
#include "support/ScriptedPeer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace vp::test {

class ProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(NetStartup(), 1u);
        ASSERT_NE(ThreadLib::init(), 0u);
        m_list.setSoundPlayer([](const char*) {});
        ASSERT_EQ(m_list.start(), 1u);
        ASSERT_EQ(m_list.addUserContact("alice", "example.org", 0, 0, m_alice), 1u);
        m_context.contacts = &m_list;
        m_context.general = &m_general;
    }
    void TearDown() override {
        m_list.stop();
        ThreadLib::shutdown();
        NetCleanup();
    }

    // A blocking socket connected to the peer, which is started first.
    void connect(ScriptedPeer& peer, TcpSocket& socket) {
        peer.start();
        ASSERT_EQ(socket.Connect("127.0.0.1", peer.port()), 1u) << socket.LastError();
    }

    // Runs operation once against the peer on a fresh conversation, keeps
    // the texts it left, and checks that the peer saw exactly its script.
    uint32_t play(ScriptedPeer& peer, const std::function<uint32_t(ClientProtocol&, TcpSocket&)>& operation) {
        ClientProtocol protocol(m_context);
        TcpSocket socket;
        connect(peer, socket);
        const uint32_t result = operation(protocol, socket);
        m_errorText = protocol.errorText().c_str();
        m_replyText = protocol.replyText().c_str();
        socket.Close();
        EXPECT_EQ(peer.finish(), "");
        return result;
    }

    // Alice's presence as the model holds it: "online address".
    std::string presence() {
        uint32_t online = 9;
        TextString address;
        EXPECT_EQ(m_list.getPresence(m_alice, online, address), 1u);
        return std::to_string(online) + " " + address.c_str();
    }

    TempDir m_dir;
    ScriptedMessages m_messages;
    ScopedMessageService m_scoped{m_messages};
    platform::MemoryRegistry m_registry;
    GeneralOptions m_general{m_registry};
    SoundOptions m_sounds{m_registry};
    ContactList m_list{m_dir.path().c_str(), m_sounds, m_general};
    ContactHandle m_alice = 0;
    ProtocolContext m_context;
    std::string m_errorText;
    std::string m_replyText;
};

} // namespace vp::test
