// The component list: one plug-in record per listed, installed component.
#include <windows.h>

#include <string>

#include "config/ini_document.h"
#include "config/list_items.h"
#include "config/pel_init.h"
#include "core/diagnostics.h"
#include "core/loader_state.h"
#include "core/plugin_table.h"
#include "core/text.h"
#include "platform/active_mask.h"
#include "platform/install_module.h"

CPelInit::CPelInit() : m_arrayPlugin(g_ArrayPlugin) {}

CPelInit::~CPelInit() {
    delete m_pObjQXAC;
    delete m_pObjMenu;
}

int CPelInit::ReadQXActive() {
    wchar_t found[260] = {};
    GetWorkPathFile(found, L"Options", L"QXActive.config");
    std::wstring path = found;
    if (path.empty()) {
        GetComposeInstallPath(found);
        if (found[0] == L'\0') {
            pel::Trace("CPelInit::ReadQXActive GetComposeInstallPath Fail");
            return 0;
        }
        path = found;
        if (path.back() != L'\\') path += L'\\';
        path += L"QXActive.config";  // a path that grows too long is refused by the reader
    }

    m_pObjQXAC = new IniDocument;
    if (!m_pObjQXAC->LoadFromFile(path.c_str())) {
        pel::TraceF("CPelInit::ReadQXActive  LoadFromFile %S Fail", path.c_str());
        delete m_pObjQXAC;
        m_pObjQXAC = nullptr;
        return 0;
    }
    const std::wstring strComposeList = m_pObjQXAC->GetValue(L"Active", L"Active");
    if (strComposeList.empty()) {
        pel::Trace("CPelInit::ReadQXActive strComposeList Empty");
        delete m_pObjQXAC;
        m_pObjQXAC = nullptr;
        return 0;
    }
    m_dwActiveMask = ActiveOptionMask();
    pel::ForEachListItem(strComposeList, [this](const std::wstring& item) {
        FillPluginItem(item.c_str());
        return false;
    });
    delete m_pObjQXAC;
    m_pObjQXAC = nullptr;
    return 1;
}

int CPelInit::FillPluginItem(const wchar_t* tchSecName) {
    if (!tchSecName || tchSecName[0] == L'\0') {
        pel::Trace("CPelInit::FillPluginItem  tchSecName[0] or tchSecName is NULL");
        return 0;
    }
    if (!m_pObjQXAC) {
        pel::Trace("CPelInit::FillPluginItem  m_pObjQXAC == NULL");
        return 0;
    }
    const IniSection* section = m_pObjQXAC->FindSection(tchSecName);
    if (!section) {
        pel::TraceF("CPelInit::FillPluginItem  FindSection %S is NULL", tchSecName);
        return 0;
    }

    wchar_t tchLoader[260];
    pel::CopyText(tchLoader, section->GetValue(L"loader"));
    PluginItem item{};
    wchar_t tchId[260];
    pel::CopyText(tchId, section->GetValue(L"id"));
    item.nId = pel::ParseDecimal(tchId);

    item.bActiveOpt = pel::MaskBit(m_dwActiveMask, item.nId) ? 1 : 0;
    if (item.bActiveOpt) g_nProjectState = 1;

    item.nLoader = pel::ParseDecimal(tchLoader);
    if (item.nLoader != 1)
        pel::TraceF("CPelInit::FillPluginItem  %S Loader is not correct", tchSecName);

    const std::wstring compose = GetInstalledCompose(section->GetValue(L"compose"));
    if (!pel::CopyText(item.chCompose, compose.c_str())) {
        // A cut name could name another component: refuse it.
        pel::TraceF("CPelInit::FillPluginItem  chCompose %S is too long", compose.c_str());
        return 0;
    }
    if (!IsComposeInstalled(item.chCompose)) {
        pel::TraceF("CPelInit::FillPluginItem  chCompose %S is not installed", item.chCompose);
        return 0;
    }
    m_arrayPlugin.Add(item);
    return 1;
}

std::wstring GetInstalledCompose(const wchar_t* value) {
    const std::wstring text = value ? value : L"";
    if (text.find(L',') == std::wstring::npos) return text;
    std::wstring current;
    std::wstring fallback;
    for (wchar_t c : text) {
        if (c != L',') {
            current += c;
            continue;
        }
        if (IsComposeInstalled(current.c_str())) return current;
        if (fallback.empty()) fallback = current;
        current.clear();
    }
    return current.empty() ? fallback : current;
}
