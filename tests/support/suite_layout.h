// Writes a whole suite install for a test: the component list, one menu document per
// component, the plug-in binaries in their component folders, and the active-option mask.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "suite.h"

namespace peltest {

struct ComponentSpec {
    std::wstring section;       // section name in the component list (and the list item)
    std::wstring compose;       // "compose" value; also the component folder and <compose>.ini
    int id = 0;                 // bit in the active-option mask
    int loader = 1;
    bool installed = true;      // whether the component is mapped to an existing folder
    std::wstring menuTag = L"Main";
    std::wstring usedobj = L"Pel";
    std::wstring invoker;       // full "invoker" value
    std::wstring clsid;         // "clsid" value (braced)
};

class SuiteLayout {
public:
    explicit SuiteLayout(TestSuite& suite) : m_suite(suite) {}
    ~SuiteLayout();  // removes the COM registrations it made
    SuiteLayout(const SuiteLayout&) = delete;
    SuiteLayout& operator=(const SuiteLayout&) = delete;

    // A DLL plug-in: copies the build's `fixtureDll` into the component folder as `dllName`
    // (default "<compose>.dll") and writes invoker "0,2,<dllName>,<ordinal>".
    ComponentSpec& AddDll(const std::wstring& compose, int id, const std::wstring& fixtureDll,
                          UINT ordinal = 10, const std::wstring& dllName = L"");
    // A COM plug-in: registers `clsid` for the build's `serverDll` (copied into the component
    // folder as "<compose>.dll", ThreadingModel "Both", under HKLM) and writes invoker "0,1".
    ComponentSpec& AddCom(const std::wstring& compose, int id, const std::wstring& serverDll,
                          const std::wstring& clsid);
    // Any component, written as given.
    ComponentSpec& Add(const ComponentSpec& spec);

    // Writes Options\QXActive.config and Menu\<compose>.ini for every component, maps the
    // installed components, and sets the mask (bits of the `active` ids).
    void Write(const std::vector<int>& activeIds);

    // A fresh CLSID in braced form, for a registration of this test only.
    static std::wstring NewClsid();
    std::vector<ComponentSpec>& Components() { return m_components; }

private:
    TestSuite& m_suite;
    std::vector<ComponentSpec> m_components;
    std::vector<std::wstring> m_clsids;
};

}  // namespace peltest
