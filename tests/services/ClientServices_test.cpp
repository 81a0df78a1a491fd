// The real services under the application's start and stop, on loopback
// ports the system picks.

#include "protocol/ProtocolFixture.h"
#include "services/ClientServices.h"
#include "settings/AwayOptions.h"
#include "settings/NoteOptions.h"

namespace vp {
namespace {

using namespace test;

TEST_F(ProtocolTest, TheApplicationStartsAndStopsTheRealServices) {
    ApplicationEnvironment environment;
    environment.sleepMilliseconds = [](uint32_t) {};
    environment.netStartup = [] { return 1u; };
    environment.netCleanup = [] { return 1u; };
    platform::MemoryRegistry registry;
    Application application(registry, environment);
    NoteOptions notes(m_registry);
    AwayOptions away(m_registry);
    ClientServicesSetup setup;
    setup.userFolder = m_dir.path("user").c_str();
    setup.receiveFolder = m_dir.path("files").c_str();
    setup.general = &m_general;
    setup.noteOptions = &notes;
    setup.away = &away;
    setup.sounds = &m_sounds;
    setup.bindAddress = "127.0.0.1";
    setup.peerPort = setup.httpPort = 0;
    ClientServices services(setup);
    application.setServices(&services);
    ASSERT_EQ(services.startContactModel(), 1u);
    ASSERT_EQ(application.startServices(), 1u);
    const auto running = [&] {
        return std::to_string(services.monitor().started() != 0) + std::to_string(services.listeners().started() != 0) +
               std::to_string(services.listeners().isPeerListenerRunning()) +
               std::to_string(services.listeners().httpPort() != 0) + std::to_string(services.requests().started() != 0);
    };
    EXPECT_EQ(running(), "11111");
    // The local HTTP listener serves the add-contact page.
    TcpSocket browser;
    const std::string request = "GET /Ann%20Lee@MainHub HTTP/1.1\r\n\r\n";
    char reply[16] = {};
    ASSERT_EQ(browser.Connect("127.0.0.1", services.listeners().httpPort()), 1u);
    ASSERT_EQ(browser.Send(request.data(), static_cast<uint32_t>(request.size())), request.size());
    EXPECT_NE(browser.Recv(reply, sizeof reply - 1), 0u);
    ContactHandle added = 0;
    EXPECT_EQ(services.contacts().findContactByName("ann lee", "mainhub", added), 1u);
    EXPECT_EQ(application.stopServices(), 1u);
    EXPECT_EQ(running(), "00000");
    services.stopContactModel();
}

} // namespace
} // namespace vp
