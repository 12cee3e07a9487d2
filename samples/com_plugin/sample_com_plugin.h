// The sample COM plug-in's class identifier. A plug-in of your own needs a new one: generate
// it (uuidgen, or guidgen on Windows) and put its braced form into the menu document's "clsid".
#pragma once

#include <windows.h>

// {84027004-BF71-4300-8E7A-3FD991E4515C}
static const CLSID CLSID_PelSampleComPlugin = {
    0x84027004, 0xbf71, 0x4300, {0x8e, 0x7a, 0x3f, 0xd9, 0x91, 0xe4, 0x51, 0x5c}};
#define PEL_SAMPLE_COM_CLSID_TEXT L"{84027004-BF71-4300-8E7A-3FD991E4515C}"
