// What the current process holds: handles, threads and private committed memory. Works under
// Wine, where the handle count and the private usage of the process counters read 0.
#pragma once

#include <windows.h>

#include <cstddef>

namespace peltest {

struct ProcessUsage {
    long handles = 0;
    long threads = 0;
    std::size_t privateBytes = 0;
};

ProcessUsage MeasureProcess();

}  // namespace peltest
