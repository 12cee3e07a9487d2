// pelcheck: tells an administrator, before anything runs, what PelLoader.dll's start-up would
// do with a suite install and why. Exit status: 0 clean, 1 problems, 2 bad usage.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "output.h"
#include "report.h"
#include "text_utf.h"

namespace {

constexpr int kExitUsage = 2;

const wchar_t kUsage[] =
    L"Usage: pelcheck.exe [--store-root <HKCU\\path|HKLM\\path>] [--json]\r\n"
    L"\r\n"
    L"Reads the suite install the way PelLoader.dll's start-up (InitSet) does, with the\r\n"
    L"loader's own readers, and reports what it would do and why, without loading or\r\n"
    L"starting any plug-in.\r\n"
    L"\r\n"
    L"  --store-root KEY  read the configuration store from this registry key instead of\r\n"
    L"                    the store's default (sets VEMM_STORE_ROOT for this run), e.g. to\r\n"
    L"                    check a staged suite: HKLM\\Software\\Staging\\Store\r\n"
    L"  --json            write the report as JSON (UTF-8) instead of text\r\n"
    L"  --help            show this text\r\n"
    L"\r\n"
    L"Run it from the host program's folder, where the loader finds VemmBase.dll.\r\n"
    L"Exit status: 0 every listed component would start cleanly (components switched off\r\n"
    L"by the active-option mask count as clean), 1 problems found, 2 bad usage.\r\n";

void WriteBytes(HANDLE handle, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return;
        done += written;
    }
}

// A console gets the text as it is; a file or pipe gets the UTF-8 bytes.
void Write(DWORD which, const std::string& utf8) {
    const HANDLE handle = GetStdHandle(which);
    if (!handle || handle == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode)) {
        const std::wstring text = peltools::FromUtf8(utf8);
        DWORD written = 0;
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    WriteBytes(handle, utf8);
}

void Write(DWORD which, const std::wstring& text) { Write(which, peltools::Utf8(text)); }

int UsageError(const std::wstring& message) {
    Write(STD_ERROR_HANDLE, L"pelcheck: " + message + L"\r\n\r\n" + kUsage);
    return kExitUsage;
}

// "HKCU\<path>" or "HKLM\<path>" (or the long hive names), with a non-empty path.
bool ValidStoreRoot(const std::wstring& value) {
    const size_t slash = value.find(L'\\');
    if (slash == std::wstring::npos || slash + 1 >= value.size()) return false;
    const std::wstring hive = value.substr(0, slash);
    for (const wchar_t* name : {L"HKCU", L"HKLM", L"HKEY_CURRENT_USER", L"HKEY_LOCAL_MACHINE"}) {
        if (lstrcmpiW(hive.c_str(), name) == 0) return true;
    }
    return false;
}

struct Options {
    bool json = false;
    bool help = false;
    std::wstring storeRoot;
};

// Returns 0 when the arguments are good, else the exit status.
int ParseArguments(const std::vector<std::wstring>& args, Options* options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            options->help = true;
        } else if (arg == L"--json") {
            options->json = true;
        } else if (arg == L"--store-root" || arg.rfind(L"--store-root=", 0) == 0) {
            std::wstring value;
            if (arg == L"--store-root") {
                if (i + 1 >= args.size()) return UsageError(L"--store-root needs a registry key");
                value = args[++i];
            } else {
                value = arg.substr(wcslen(L"--store-root="));
            }
            if (!ValidStoreRoot(value))
                return UsageError(L"--store-root takes HKCU\\<path> or HKLM\\<path>, not \"" +
                                  value + L"\"");
            options->storeRoot = value;
        } else {
            return UsageError(L"unknown argument \"" + arg + L"\"");
        }
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::vector<std::wstring> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    Options options;
    if (const int status = ParseArguments(args, &options)) return status;
    if (options.help) {
        Write(STD_OUTPUT_HANDLE, kUsage);
        return 0;
    }
    // Before the first store access: the store library reads it at every open.
    if (!options.storeRoot.empty())
        SetEnvironmentVariableW(L"VEMM_STORE_ROOT", options.storeRoot.c_str());

    const pelcheck::Report report = pelcheck::Check();
    if (options.json)
        Write(STD_OUTPUT_HANDLE, pelcheck::FormatJson(report));
    else
        Write(STD_OUTPUT_HANDLE, pelcheck::FormatText(report));
    return report.ExitStatus();
}
