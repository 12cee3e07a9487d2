// The menu documents: which section of <compose>.ini each record takes, and how its plug-in
// is loaded.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>

#include "config/ini_document.h"
#include "config/list_items.h"
#include "config/pel_init.h"
#include "core/diagnostics.h"
#include "core/plugin_table.h"
#include "core/text.h"
#include "platform/install_module.h"

namespace {

// FNV-1a over the sort key of `text` under lstrcmpiW's comparison.
std::uint64_t HashSortKey(const wchar_t* text, std::uint64_t hash) {
    constexpr DWORD kFlags = LCMAP_SORTKEY | NORM_IGNORECASE;
    const int size = LCMapStringW(LOCALE_USER_DEFAULT, kFlags, text, -1, nullptr, 0);
    std::string key(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        LCMapStringW(LOCALE_USER_DEFAULT, kFlags, text, -1, reinterpret_cast<LPWSTR>(&key[0]),
                     size);
    for (unsigned char byte : key) hash = (hash ^ byte) * 0x100000001B3ull;
    return hash;
}

// The loader kind of an invoker text: its second field as a decimal number.
int InvokerKind(const wchar_t* invoker) {
    const wchar_t* comma = std::wcschr(invoker, L',');
    return comma ? pel::ParseDecimal(comma + 1) : 0;
}

}  // namespace

void CTakenMenuSections::Clear() {
    m_records.clear();
    m_nIndexed = 0;
}

std::uint64_t CTakenMenuSections::Key(const wchar_t* compose, const wchar_t* tag) {
    return HashSortKey(tag, HashSortKey(compose, 0xCBF29CE484222325ull) * 31);
}

bool CTakenMenuSections::Taken(const CPluginArray& table, int before, const wchar_t* compose,
                               const wchar_t* tag) {
    // Records before the one being read are complete: each is indexed once.
    for (; m_nIndexed < before; ++m_nIndexed) {
        const PluginItem& record = table.At(m_nIndexed);
        m_records.emplace(Key(record.chCompose, record.MenuTag), m_nIndexed);
    }
    const auto range = m_records.equal_range(Key(compose, tag));
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second >= before) continue;
        const PluginItem& earlier = table.At(it->second);
        if (lstrcmpiW(earlier.chCompose, compose) == 0 && lstrcmpiW(earlier.MenuTag, tag) == 0)
            return true;
    }
    return false;
}

int CPelInit::ReadMenuIni() {
    m_takenSections.Clear();
    if (m_arrayPlugin.Count() == 0) {
        pel::Trace("CPelInit::ReadMenuIni g_ArrayPlugin is Empty");
        return 0;
    }
    const int count = m_arrayPlugin.Count();
    for (int i = 0; i < count; ++i) {
        const PluginItem& item = m_arrayPlugin.At(i);
        if (item.nLoader != 1) continue;
        wchar_t fileName[256];
        const bool fits = pel::CopyText(fileName, item.chCompose) &&
                          pel::AppendText(fileName, L".ini");
        wchar_t path[260] = {};
        if (fits) GetWorkPathFile(path, L"Menu", fileName);
        if (path[0] == L'\0') {
            pel::TraceF("CPelInit::ReadMenuIni menu %S GetWorkPathFile fail", fileName);
            continue;
        }
        m_nCurIndex = i;
        GetModuleMenuInfo(path);
    }
    return 1;
}

int CPelInit::GetModuleMenuInfo(const wchar_t* path) {
    m_pObjMenu = new IniDocument;
    int result = 1;
    if (!m_pObjMenu->LoadFromFile(path)) {
        pel::TraceF("CPelInit::GetModuleMenuInfo  LoadFromFile %S Fail", path);
        result = 0;
    } else {
        const std::wstring strMenuList = m_pObjMenu->GetValue(L"Menu", L"MenuList");
        if (strMenuList.empty()) {
            pel::Trace("CPelInit::GetModuleMenuInfo strMenuList Empty");
            result = 0;
        } else {
            pel::ForEachListItem(strMenuList, [this](const std::wstring& candidate) {
                return FillPluginMenuInfo(candidate.c_str()) != 0;
            });
        }
    }
    delete m_pObjMenu;
    m_pObjMenu = nullptr;
    return result;
}

int CPelInit::FillPluginMenuInfo(const wchar_t* tchSecName) {
    if (!tchSecName || tchSecName[0] == L'\0') {
        pel::Trace("CPelInit::FillPluginMenuInfo  tchSecName[0] or tchSecName is NULL");
        return 0;
    }
    if (!m_pObjMenu) {
        pel::TraceF("CPelInit::FillPluginMenuInfo  FindSection %S m_pObjMenu == NULL", tchSecName);
        return 0;
    }
    const IniSection* section = m_pObjMenu->FindSection(tchSecName);
    if (!section) {
        pel::TraceF("CPelInit::FillPluginMenuInfo  FindSection %S is NULL", tchSecName);
        return 0;
    }
    wchar_t usedobj[64];
    pel::CopyText(usedobj, section->GetValue(L"usedobj"));
    if (lstrcmpiW(usedobj, L"Pel") != 0) return 0;

    PluginItem& item = m_arrayPlugin.At(m_nCurIndex);
    const int before = std::min(m_nCurIndex, m_arrayPlugin.Count());
    if (m_takenSections.Taken(m_arrayPlugin, before, item.chCompose, tchSecName)) {
        pel::TraceF("CPelInit::FillPluginMenuInfo  FindSection %S Same", tchSecName);
        return 0;
    }

    // Texts that do not fit their fields are refused, not cut: a cut name or invoker would
    // silently load something else.
    wchar_t invoker[64];
    wchar_t clsid[64] = {};
    wchar_t menuTag[32];
    const bool fits =
        pel::CopyText(menuTag, tchSecName) &&
        pel::CopyText(invoker, section->GetValue(L"invoker")) &&
        (InvokerKind(invoker) != 1 || pel::CopyText(clsid, section->GetValue(L"clsid")));
    if (!fits) {
        pel::TraceF("CPelInit::FillPluginMenuInfo  FindSection %S text too long", tchSecName);
        return 0;
    }

    pel::CopyText(item.MenuTag, menuTag);
    ParseInvoker(invoker);
    if (item.nInvokerType == 1 && clsid[0] != L'\0') CLSIDFromString(clsid, &item.clsid);
    return 1;
}

void CPelInit::ParseInvoker(const wchar_t* invoker) {
    if (!invoker || invoker[0] == L'\0') return;
    PluginItem& item = m_arrayPlugin.At(m_nCurIndex);
    const auto apply = [&item](int field, const std::wstring& text) {
        if (field == 2) {
            item.nInvokerType = pel::ParseDecimal(text.c_str());
        } else if (field == 3) {
            pel::CopyText(item.tchDllName, text.c_str());
        } else if (field == 4 && item.nInvokerType == 2) {
            item.m_uOrdinal = static_cast<UINT>(pel::ParseDecimal(text.c_str()));
        }
    };
    // Unlike the other lists, the text after the last "," is a field even when empty.
    std::wstring rest = invoker;
    int field = 1;
    for (size_t comma = rest.find(L','); comma != std::wstring::npos; comma = rest.find(L',')) {
        apply(field++, rest.substr(0, comma));
        rest.erase(0, comma + 1);
    }
    apply(field, rest);
}
