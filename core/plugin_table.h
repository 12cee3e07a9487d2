// The plug-in record and the process-wide table of records.
#pragma once

#include <windows.h>

#include <cstdint>

struct IPluginObject;

namespace pel {
struct WorkerSlot;
}

// One plug-in as the loader sees it. A plain record with no owned memory: copied byte for byte
// (into the table, and onto the heap for a new worker).
struct PluginItem {
    wchar_t chCompose[260];     // component name chosen from "compose"
    int nId;                    // bit number in the active-option mask
    int nLoader;                // 1: served by this loader
    int bActiveOpt;             // the mask bit as last read
    int bEnable;                // state the loader wants the plug-in in
    int bThreadStarted;         // a worker was started (until shutdown)
    HANDLE hThread;             // the worker thread; owned by the record, closed at shutdown
    HANDLE hEventEnable;        // wait position 0
    HANDLE hEventDisable;       // wait position 1
    HANDLE hEventExit;          // wait position 2
    HANDLE hEventSetupChange;   // wait position 3
    HMODULE hModule;            // published DLL plug-in (no reference of its own)
    IPluginObject* pComInterface;  // published COM plug-in (no reference of its own)
    wchar_t MenuTag[32];        // the menu section chosen for the record
    int nInvokerType;           // 1: COM object, 2: DLL by ordinals
    wchar_t tchDllName[260];    // DLL file name
    UINT m_uOrdinal;            // menu handler's ordinal (DLL only)
    CLSID clsid;                // COM class (COM only)
    pel::WorkerSlot* pWorker;   // what the record shares with its worker; null without one
};

namespace pel {

// Clears the record's four event fields; whoever owns the handles closes them.
inline void ForgetEvents(PluginItem& item) {
    item.hEventEnable = item.hEventDisable = item.hEventExit = item.hEventSetupChange = nullptr;
}

// Clears what the record shares with its worker once the worker owns it alone: the events and
// the published plug-in.
inline void ForgetWorkerHandles(PluginItem& item) {
    ForgetEvents(item);
    item.hModule = nullptr;
    item.pComInterface = nullptr;
}

// Whether bit (nId mod 32) is set in an active-option mask.
inline bool MaskBit(DWORD mask, int nId) {
    return (mask >> (static_cast<unsigned>(nId) & 31u)) & 1u;
}

}  // namespace pel

// Carries the HRESULT of a table failure: E_INVALIDARG for a bad index, E_OUTOFMEMORY when the
// table cannot grow.
class CHResultError {
public:
    explicit CHResultError(HRESULT hr) : m_hr(hr) {}
    HRESULT Code() const { return m_hr; }

private:
    HRESULT m_hr;
};

// Records by value in one contiguous, zero-filled block.
class CPluginArray {
public:
    CPluginArray() = default;
    ~CPluginArray();
    CPluginArray(const CPluginArray&) = delete;
    CPluginArray& operator=(const CPluginArray&) = delete;

    int Add(const PluginItem& item);        // throws CHResultError(E_OUTOFMEMORY)
    PluginItem& At(int index);              // throws CHResultError(E_INVALIDARG)
    const PluginItem& At(int index) const;  // throws CHResultError(E_INVALIDARG)
    int Count() const { return static_cast<int>(m_nCount); }
    int Capacity() const { return static_cast<int>(m_nCapacity); }
    void RemoveAll();
    // Exchanges the records of two tables; nothing is copied.
    void Swap(CPluginArray& other) noexcept;

private:
    void Grow(std::uint32_t needed);

    PluginItem* m_pData = nullptr;
    std::uint32_t m_nCount = 0;
    std::uint32_t m_nCapacity = 0;
    std::uint32_t m_nGrowBy = 0;  // 0: grow by count/8, between 4 and 1024
};

extern CPluginArray g_ArrayPlugin;

namespace pel {
// Every record's bActiveOpt from its bit in `mask`, and bEnable from bActiveOpt; 1 when any
// record is enabled, else 0.
int ApplyActiveMask(CPluginArray& table, DWORD mask);
}  // namespace pel
