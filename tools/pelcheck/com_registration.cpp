#include "com_registration.h"

#include <vector>

namespace pelcheck {
namespace {

class RegKey {
public:
    RegKey(HKEY parent, const std::wstring& path) {
        if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &m_key) != ERROR_SUCCESS)
            m_key = nullptr;
    }
    ~RegKey() {
        if (m_key) RegCloseKey(m_key);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    explicit operator bool() const { return m_key != nullptr; }

    // A text value (null name: the default value); false when absent or not text.
    bool Text(const wchar_t* name, std::wstring* text) const {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(m_key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return false;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
        if (RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                             &size) != ERROR_SUCCESS)
            return false;
        *text = data.data();
        if (type == REG_EXPAND_SZ) *text = Expand(*text);
        return true;
    }

private:
    static std::wstring Expand(const std::wstring& text) {
        const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
        if (needed == 0) return text;
        std::vector<wchar_t> expanded(needed + 1, L'\0');
        ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
        return expanded.data();
    }

    HKEY m_key = nullptr;
};

// The file a server name leads to: as written when it names a folder, else searched for the
// way a module name is.
std::wstring ServerPath(const std::wstring& server) {
    if (server.empty()) return L"";
    if (server.find_first_of(L"\\/") != std::wstring::npos) {
        const DWORD attributes = GetFileAttributesW(server.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)
                   ? server
                   : L"";
    }
    wchar_t found[MAX_PATH] = {};
    return SearchPathW(nullptr, server.c_str(), nullptr, MAX_PATH, found, nullptr) ? found : L"";
}

}  // namespace

bool ComRegistration::ModelFitsWorker() const {
    return hasModel &&
           (lstrcmpiW(model.c_str(), L"Both") == 0 || lstrcmpiW(model.c_str(), L"Free") == 0 ||
            lstrcmpiW(model.c_str(), L"Neutral") == 0);
}

ComRegistration ReadComRegistration(const std::wstring& clsidText) {
    ComRegistration reg;
    const std::wstring classPath = L"Software\\Classes\\CLSID\\" + clsidText;
    reg.classKey = static_cast<bool>(RegKey(HKEY_LOCAL_MACHINE, classPath));
    if (!reg.classKey) return reg;
    reg.localServer = static_cast<bool>(RegKey(HKEY_LOCAL_MACHINE, classPath + L"\\LocalServer32"));
    const RegKey inproc(HKEY_LOCAL_MACHINE, classPath + L"\\InprocServer32");
    reg.inproc = static_cast<bool>(inproc);
    if (!reg.inproc) return reg;
    inproc.Text(nullptr, &reg.server);
    reg.hasModel = inproc.Text(L"ThreadingModel", &reg.model);
    reg.serverPath = ServerPath(reg.server);
    return reg;
}

}  // namespace pelcheck
