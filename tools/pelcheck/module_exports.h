// What a plug-in file offers the loader, read from its PE headers without running any of it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace pelcheck {

struct ModuleImage {
    bool exists = false;             // the file is there
    bool mapped = false;             // the system took it as a PE image
    DWORD mapError = 0;              // why not, when it did not
    WORD machine = 0;                // IMAGE_FILE_MACHINE_*, 0 when the headers could not be read
    std::vector<WORD> ordinals;      // exported ordinals that lead somewhere
    std::vector<std::string> names;  // exported names

    bool Exports(WORD ordinal) const;
    bool Exports(const char* name) const;
};

// Maps the file as an image resource (never as code) and reads its export directory.
ModuleImage InspectModule(const std::wstring& path);

// The machine the loader is built for: a plug-in of another machine cannot be loaded.
WORD LoaderMachine();
const wchar_t* MachineName(WORD machine);

}  // namespace pelcheck
