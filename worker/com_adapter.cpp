// COM plug-ins: one IPluginObject per worker, created and used on the worker's thread.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "core/diagnostics.h"
#include "core/plugin_table.h"
#include "pel_plugin.h"
#include "worker/work_part.h"

BOOL CWorkPart::LoadCom(PluginItem* pItemPlug) {
    if (!pItemPlug) {
        pel::Trace("CWorkPart::LoadCom pItemPlug == NULL");
        return FALSE;
    }
    const HRESULT hr = CoCreateInstance(pItemPlug->clsid, nullptr, CLSCTX_ALL, IID_IPluginObject,
                                        reinterpret_cast<void**>(&m_pComInterface));
    if (hr != S_OK) {
        pel::TraceF("CWorkPart::LoadCom CoCreateInstance Fail, MenuTag %S, HR %x",
                    pItemPlug->MenuTag, static_cast<unsigned>(hr));
        return FALSE;
    }
    m_pComInterface->PluginInit(0, 0, 0);
    // A worker let go while the plug-in initialised only closes it.
    if (!LetGo()) ServeState(m_nState);
    return TRUE;
}

BOOL CWorkPart::ComMenuHandle(int state) {
    if (!m_pComInterface) {
        pel::Trace("CWorkPart::ComMenuHandle m_pComInterface is NULL");
        return FALSE;
    }
    VARIANT first, second, third;
    VariantInit(&first);
    VariantInit(&second);
    VariantInit(&third);
    first.vt = VT_BOOL;
    first.boolVal = static_cast<VARIANT_BOOL>(state & 0xFFFF);
    const HRESULT hr = m_pComInterface->PluginMenuHandle(first, second, third);
    VariantClear(&first);
    VariantClear(&second);
    VariantClear(&third);
    return hr == S_OK;
}

int CWorkPart::ComMenuState() {
    if (!m_pComInterface) {
        pel::Trace("CWorkPart::ComMenuState m_pComInterface is NULL");
        return 0;
    }
    LONG first = 0;
    LONG state = 0;
    m_pComInterface->PluginGetState(&first, &state);
    return state;
}

void CWorkPart::ComSetupChange() {
    if (!m_pComInterface) {
        pel::Trace("CWorkPart::ComSetupChange m_pComInterface is NULL");
        return;
    }
    m_pComInterface->PluginSetupChange(0, 0);
}

BOOL CWorkPart::ComExit() {
    if (!m_pComInterface) {
        pel::Trace("CWorkPart::ComExit m_pComInterface is NULL");
        return FALSE;
    }
    m_pComInterface->PluginExit(0);
    m_pComInterface->Release();
    m_pComInterface = nullptr;
    return TRUE;
}
