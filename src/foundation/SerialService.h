#pragma once
// A request service that runs every request on its own service thread, one
// after another in arrival order, and answers each with the handler's result.

#include "foundation/Service.h"

#include <cstdint>

namespace vp {

class SerialService : public detail::ServiceCore {
public:
    SerialService() = default;
    // Stops the service when it still runs. The stop runs this class's own
    // onStop, so a derived class that overrides it stops in its own destructor.
    virtual ~SerialService();

    // Creates the service thread and has it start: 0 when already started,
    // else onStart's result (0 leaves nothing running).
    uint32_t start();
    // Has the service thread stop once the request it is running (if any) is
    // done: onStop's result, or 1 when not started. It may be started again.
    uint32_t stop();

protected:
    // Runs on the service thread; its result is the requester's answer. The
    // argument list lives on the requester's stack and stays valid until then.
    virtual uint32_t handleRequest(uint32_t sender, uint32_t argumentCount, const std::uintptr_t* args);
    // Runs on the service thread as it starts; 0 refuses the start.
    virtual uint32_t onStart();
    // Runs on the service thread as it stops.
    virtual uint32_t onStop();

private:
    uint32_t startRequested() override;
    uint32_t stopRequested() override;
    // Runs the handler here, on the service thread, and answers with its result.
    void requestArrived(uint32_t sender, uint32_t argumentCount, const std::uintptr_t* arguments) override;
};

} // namespace vp
