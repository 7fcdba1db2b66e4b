#include "engine/worker_thread.h"

#include <system_error>

#include "platform/checked_alloc.h"

namespace vexel {

std::optional<std::thread> CreateWorkerThread(std::function<void()> routine) {
    if (!routine) return std::nullopt;
    return RetryAfterFailure([&routine]() -> std::optional<std::thread> {
        try {
            return std::thread(routine);
        } catch (const std::system_error&) {
            return std::nullopt;
        }
    });
}

}  // namespace vexel
