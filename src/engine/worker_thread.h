// Threads for pools and services. When the system refuses a thread, memory is released and
// the start retried, as for a refused allocation.
#pragma once

#include <functional>
#include <optional>
#include <thread>

namespace vexel {

// Empty when no thread could be started.
std::optional<std::thread> CreateWorkerThread(std::function<void()> routine);

}  // namespace vexel
