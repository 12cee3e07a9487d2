#include "suite_layout.h"

#include <objbase.h>

#include <set>
#include <stdexcept>

namespace peltest {

ComponentSpec& SuiteLayout::AddDll(const std::wstring& compose, int id,
                                   const std::wstring& fixtureDll, UINT ordinal,
                                   const std::wstring& dllName) {
    ComponentSpec spec;
    spec.section = compose;
    spec.compose = compose;
    spec.id = id;
    const std::wstring file = dllName.empty() ? compose + L".dll" : dllName;
    m_suite.InstallBinary(fixtureDll, compose, file);
    spec.invoker = L"0,2," + file + L"," + std::to_wstring(ordinal);
    return Add(spec);
}

ComponentSpec& SuiteLayout::AddCom(const std::wstring& compose, int id,
                                   const std::wstring& serverDll, const std::wstring& clsid) {
    ComponentSpec spec;
    spec.section = compose;
    spec.compose = compose;
    spec.id = id;
    spec.invoker = L"0,1";
    spec.clsid = clsid;
    const std::wstring path = m_suite.InstallBinary(serverDll, compose, compose + L".dll");
    const std::wstring key = L"Software\\Classes\\CLSID\\" + clsid + L"\\InprocServer32";
    HKEY hkey = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &hkey, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot register a COM class");
    RegSetValueExW(hkey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    const wchar_t model[] = L"Both";
    RegSetValueExW(hkey, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model),
                   sizeof(model));
    RegCloseKey(hkey);
    m_clsids.push_back(clsid);
    return Add(spec);
}

ComponentSpec& SuiteLayout::Add(const ComponentSpec& spec) {
    m_components.push_back(spec);
    return m_components.back();
}

void SuiteLayout::Write(const std::vector<int>& activeIds) {
    std::wstring list;
    for (const ComponentSpec& c : m_components) list += (list.empty() ? L"" : L",") + c.section;
    std::wstring doc = L"[Active]\r\nActive=" + list + L"\r\n";
    for (const ComponentSpec& c : m_components) {
        doc += L"\r\n[" + c.section + L"]\r\nloader=" + std::to_wstring(c.loader) +
               L"\r\nid=" + std::to_wstring(c.id) + L"\r\ncompose=" + c.compose + L"\r\n";
    }
    m_suite.WriteDocument(L"Options", L"QXActive.config", doc);
    m_suite.AddComponent(L"Options");
    m_suite.AddComponent(L"Menu");

    // One menu document per component name, listing the sections of every record of it.
    std::set<std::wstring> written;
    for (const ComponentSpec& c : m_components) {
        if (!written.insert(c.compose).second) continue;
        std::wstring menuList;
        std::wstring sections;
        for (const ComponentSpec& s : m_components) {
            if (s.compose != c.compose) continue;
            menuList += (menuList.empty() ? L"" : L",") + s.menuTag;
            sections += L"\r\n[" + s.menuTag + L"]\r\nusedobj=" + s.usedobj + L"\r\ninvoker=" +
                        s.invoker + L"\r\n";
            if (!s.clsid.empty()) sections += L"clsid=" + s.clsid + L"\r\n";
        }
        m_suite.WriteDocument(L"Menu", c.compose + L".ini",
                              L"[Menu]\r\nMenuList=" + menuList + L"\r\n" + sections);
        if (c.installed) {
            m_suite.AddComponent(c.compose);
        }
    }
    DWORD mask = 0;
    for (int id : activeIds) mask |= 1u << (static_cast<unsigned>(id) & 31u);
    m_suite.SetActiveMask(mask);
}

std::wstring SuiteLayout::NewClsid() {
    GUID guid;
    CoCreateGuid(&guid);
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return text;
}

SuiteLayout::~SuiteLayout() {
    for (const std::wstring& clsid : m_clsids)
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\CLSID\\" + clsid).c_str());
}

}  // namespace peltest
