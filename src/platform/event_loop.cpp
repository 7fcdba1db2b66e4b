#include "platform/event_loop.h"

namespace vexel {

// Out of line so that the interface's vtable lives in one object file.
IEventLoop::~IEventLoop() = default;

}  // namespace vexel
