#include "loader_binding.h"

#include <vector>

#include "text_utf.h"

namespace pelhost {
namespace {

// Through void* so that the cast between function types is explicit and warning-free.
template <class Fn>
bool Resolve(HMODULE module, WORD ordinal, const char* name, Fn& fn, std::string& error) {
    FARPROC proc = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    if (!proc) {
        error += (error.empty() ? "" : ", ") + std::to_string(ordinal) + " (" + name + ")";
        return false;
    }
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
    return true;
}

}  // namespace

std::wstring BesideHost(const std::wstring& file) {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) break;
        path.resize(path.size() * 2);
    }
    std::wstring dir = path.data();
    const size_t slash = dir.find_last_of(L"\\/");
    dir = slash == std::wstring::npos ? std::wstring() : dir.substr(0, slash + 1);
    return dir + file;
}

bool LoadLoader(const std::wstring& path, LoaderBinding& binding, std::string& error) {
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module) {
        error = "cannot load " + peltools::Utf8(path) + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    std::string missing;
    bool ok = Resolve(module, 5, "InitSet", binding.InitSet, missing);
    ok = Resolve(module, 6, "Exit", binding.Exit, missing) && ok;
    ok = Resolve(module, 7, "AskForState", binding.AskForState, missing) && ok;
    ok = Resolve(module, 8, "GetStateEqualProject", binding.GetStateEqualProject, missing) && ok;
    ok = Resolve(module, 9, "SetStateAsProject", binding.SetStateAsProject, missing) && ok;
    ok = Resolve(module, 10, "MenuHandle", binding.MenuHandle, missing) && ok;
    ok = Resolve(module, 15, "NotifySetChange", binding.NotifySetChange, missing) && ok;
    if (!ok) {
        error = peltools::Utf8(path) + " has no export at ordinal " + missing;
        FreeLibrary(module);
        return false;
    }
    return true;
}

}  // namespace pelhost
