// State shared between the window and the log workers.
#pragma once

#include <atomic>

// 1 while a download or erase worker owns the link. Set by the handler that
// starts the worker, cleared by the worker once its last message is closed.
extern std::atomic<int> workerBusy;
