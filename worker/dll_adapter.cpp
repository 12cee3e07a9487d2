// DLL plug-ins: every entry is looked up by ordinal at the moment it is called.
#include <windows.h>
#include <oleauto.h>

#include "core/diagnostics.h"
#include "core/plugin_table.h"
#include "pel_plugin.h"
#include "platform/install_module.h"
#include "worker/work_part.h"

namespace {

template <class Fn>
Fn Export(HMODULE module, UINT ordinal) {
    FARPROC proc = GetProcAddress(module, MAKEINTRESOURCEA(ordinal & 0xFFFF));
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

}  // namespace

bool CWorkPart::ModuleAbsent() const {
    return m_hModule == nullptr || m_hModule == reinterpret_cast<HMODULE>(INVALID_HANDLE_VALUE);
}

BOOL CWorkPart::LoadDll(PluginItem* pItemPlug) {
    if (!pItemPlug) {
        pel::Trace("CWorkPart::LoadDll pItemPlug == NULL");
        return FALSE;
    }
    wchar_t path[260] = {};
    GetWorkPathFile(path, pItemPlug->chCompose, pItemPlug->tchDllName);
    if (path[0] == L'\0') return FALSE;
    m_hModule = LoadLibraryW(path);
    if (ModuleAbsent()) return FALSE;

    auto init = Export<PelDllInitFn>(m_hModule, kPelOrdinalInit);
    if (!init) return FALSE;
    init(0, 0, 0);
    // A worker let go while the plug-in initialised only closes it.
    if (!LetGo()) ServeState(m_nState);
    return TRUE;
}

BOOL CWorkPart::DllMenuHandle(int state) {
    if (ModuleAbsent()) {
        pel::Trace("CWorkPart::DllMenuHandle m_hModule is NULL");
        return FALSE;
    }
    if (m_uOrdinal == 0) {
        pel::Trace("CWorkPart::DllMenuHandle m_uOrdinal == 0");
        return FALSE;
    }
    auto fun = Export<PelDllFunFn>(m_hModule, m_uOrdinal);
    if (!fun) {
        pel::Trace("CWorkPart::DllMenuHandle DllFun is NULL");
        return FALSE;
    }
    VARIANT first, second, third;
    VariantInit(&first);
    VariantInit(&second);
    VariantInit(&third);
    first.vt = VT_BOOL;
    first.boolVal = static_cast<VARIANT_BOOL>(state & 0xFFFF);
    second.vt = VT_I4;
    second.lVal = 0;
    third.vt = VT_INT;
    third.intVal = 0;
    // The returned VARIANT belongs to the plug-in's contract: it is neither read nor cleared.
    (void)fun(first, second, third);
    VariantClear(&first);
    VariantClear(&second);
    VariantClear(&third);
    return TRUE;
}

int CWorkPart::DllMenuState() {
    if (ModuleAbsent()) {
        pel::Trace("CWorkPart::DllMenuState m_hModule is NULL");
        return 0;
    }
    auto stateFn = Export<PelDllStateFn>(m_hModule, kPelOrdinalState);
    if (!stateFn) {
        pel::TraceF("CWorkPart::DllMenuState DllState is NULL, MenuTag %S", m_szMenuTag);
        return 0;
    }
    int unused = 0;
    return stateFn(&unused);
}

BOOL CWorkPart::DllSetupChange() {
    if (ModuleAbsent()) return 0;
    auto change = Export<PelKIChangeFn>(m_hModule, kPelOrdinalSetupChange);
    if (change)
        change(0, 0);
    else
        pel::TraceF("CWorkPart::DllSetupChange KIChange is NULL, MenuTag %S", m_szMenuTag);
    return TRUE;
}

BOOL CWorkPart::DllExit() {
    if (ModuleAbsent()) {
        pel::Trace("CWorkPart::DllExit m_hModule is NULL");
        return FALSE;
    }
    auto close = Export<PelDllCloseFn>(m_hModule, kPelOrdinalClose);
    if (close)
        close();
    else if (m_bExit)
        pel::Trace("CPelInit::ExitClear DllClose is NULL");  // closed at shutdown
    else
        pel::Trace("CWorkPart::DllExit DllClose is NULL");
    FreeLibrary(m_hModule);
    return TRUE;
}
