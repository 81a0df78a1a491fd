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
    EXPECT_EQ(application.stopServices(), 1u);
    EXPECT_EQ(running(), "00000");
    services.stopContactModel();
}

} // namespace
} // namespace vp
