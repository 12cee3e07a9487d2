// Reads the version resource of each module named on the command line the way Windows reads it
// (GetFileVersionInfoW, VerQueryValueW) and checks it against the project's version. A 64-bit
// program reads a 32-bit module's resources as well.
//
//   check_version_resource <major.minor.patch> <module>...
//
// Prints what it read. Exit status 0 when every module carries the version and names itself,
// its product and its maker; 1 otherwise; 2 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Version {
    WORD major = 0, minor = 0, patch = 0;
};

bool ParseVersion(const std::wstring& text, Version* version) {
    int used = 0;
    return std::swscanf(text.c_str(), L"%hu.%hu.%hu%n", &version->major, &version->minor,
                        &version->patch, &used) == 3 &&
           static_cast<size_t>(used) == text.size();
}

class ModuleCheck {
public:
    explicit ModuleCheck(const std::wstring& path) : m_path(path) {}

    bool Run(const std::wstring& versionText, const Version& version) {
        if (!Read()) return false;
        const VS_FIXEDFILEINFO* fixed = Fixed();
        if (!fixed) return Fail(L"no fixed version information");
        const DWORD high = MAKELONG(version.minor, version.major);
        const DWORD low = MAKELONG(0, version.patch);
        if (fixed->dwFileVersionMS != high || fixed->dwFileVersionLS != low)
            Fail(L"numeric file version is not " + versionText + L".0");
        if (fixed->dwProductVersionMS != high || fixed->dwProductVersionLS != low)
            Fail(L"numeric product version is not " + versionText + L".0");
        const bool dll = EndsWith(m_path, L".dll");
        if (fixed->dwFileType != static_cast<DWORD>(dll ? VFT_DLL : VFT_APP))
            Fail(L"file type is not that of a " + std::wstring(dll ? L"DLL" : L"program"));

        for (const wchar_t* name : {L"FileVersion", L"ProductVersion"}) {
            if (Text(name) != versionText) Fail(std::wstring(name) + L" is not " + versionText);
        }
        for (const wchar_t* name : {L"FileDescription", L"ProductName", L"CompanyName",
                                    L"LegalCopyright", L"InternalName"}) {
            if (Text(name).empty()) Fail(std::wstring(name) + L" is missing");
        }
        const std::wstring file = m_path.substr(m_path.find_last_of(L"\\/") + 1);
        if (lstrcmpiW(Text(L"OriginalFilename").c_str(), file.c_str()) != 0)
            Fail(L"OriginalFilename is not " + file);

        std::wprintf(L"%ls: %u.%u.%u.%u, FileVersion \"%ls\", \"%ls\", \"%ls\", \"%ls\"\n",
                     file.c_str(), HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                     HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
                     Text(L"FileVersion").c_str(), Text(L"FileDescription").c_str(),
                     Text(L"ProductName").c_str(), Text(L"LegalCopyright").c_str());
        return m_ok;
    }

private:
    bool Fail(const std::wstring& what) {
        std::wprintf(L"FAIL %ls: %ls\n", m_path.c_str(), what.c_str());
        m_ok = false;
        return false;
    }

    static bool EndsWith(const std::wstring& text, const std::wstring& end) {
        return text.size() >= end.size() &&
               lstrcmpiW(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
    }

    // The value at `path` in the version information; null when there is none.
    const void* Query(const std::wstring& path, UINT* length) const {
        void* value = nullptr;
        *length = 0;
        if (!VerQueryValueW(m_info.data(), path.c_str(), &value, length)) return nullptr;
        return value;
    }

    bool Read() {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(m_path.c_str(), &ignored);
        if (size == 0)
            return Fail(L"no version resource, error " + std::to_wstring(GetLastError()));
        m_info.resize(size);
        if (!GetFileVersionInfoW(m_path.c_str(), 0, size, m_info.data()))
            return Fail(L"GetFileVersionInfoW failed");
        // The string table of the first language and code page the resource lists.
        struct Translation {
            WORD language;
            WORD codePage;
        };
        UINT length = 0;
        const auto* translation =
            static_cast<const Translation*>(Query(L"\\VarFileInfo\\Translation", &length));
        if (!translation || length < sizeof(Translation)) return Fail(L"no translation listed");
        wchar_t block[16];
        std::swprintf(block, 16, L"%04x%04x", translation->language, translation->codePage);
        m_block = block;
        return true;
    }

    const VS_FIXEDFILEINFO* Fixed() const {
        UINT length = 0;
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(Query(L"\\", &length));
        if (!fixed || length < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != VS_FFI_SIGNATURE)
            return nullptr;
        return fixed;
    }

    std::wstring Text(const wchar_t* name) const {
        UINT length = 0;
        const auto* value = static_cast<const wchar_t*>(
            Query(L"\\StringFileInfo\\" + m_block + L"\\" + name, &length));
        if (!value || length == 0) return std::wstring();
        return std::wstring(value, wcsnlen(value, length));
    }

    std::wstring m_path;
    std::vector<BYTE> m_info;
    std::wstring m_block;
    bool m_ok = true;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Version version;
    if (argc < 3 || !ParseVersion(argv[1], &version)) {
        std::fwprintf(stderr, L"usage: check_version_resource <major.minor.patch> <module>...\n");
        return 2;
    }
    bool ok = true;
    for (int i = 2; i < argc; ++i) ok = ModuleCheck(argv[i]).Run(argv[1], version) && ok;
    return ok ? 0 : 1;
}
