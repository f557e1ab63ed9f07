#include "tracklog/log_download.h"

std::atomic<int> workerBusy{0};
