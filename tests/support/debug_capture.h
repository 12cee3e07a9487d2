// The tests see the loader's diagnostics through the capture the tools use.
#pragma once

#include "debug_output.h"

namespace peltest {
using peltools::DebugCapture;
using peltools::DebugMessage;
}  // namespace peltest
