// TaskSchedulerApi over the platform's Task Scheduler 2.0 COM objects.
#pragma once

#include "platform/task_scheduler.h"

#include <memory>

namespace tarnwick {

// The caller initialises COM on its thread first and keeps it initialised
// until the object is destroyed; destruction releases whatever is still held.
[[nodiscard]] std::unique_ptr<TaskSchedulerApi> MakeComTaskScheduler();

}  // namespace tarnwick
