#include "loader_api.h"

#include "suite.h"

namespace peltest {
namespace {
typedef int(__stdcall* InitSetFn)(int, int, int);
typedef int(__stdcall* NoArgFn)(void);
typedef int(__stdcall* HostValueFn)(int*);
typedef VARIANT(__stdcall* MenuHandleFn)(VARIANT, VARIANT, VARIANT);
typedef int(__stdcall* NotifyFn)(int, int);

template <class Fn>
Fn As(FARPROC proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}
}  // namespace

LoaderApi::LoaderApi(const std::wstring& path) {
    m_module = LoadLibraryW((path.empty() ? BinPath(L"PelLoader.dll") : path).c_str());
    if (!m_module) return;
    for (int ordinal : {5, 6, 7, 8, 9, 10, 15})
        m_fn[ordinal] = GetProcAddress(m_module, MAKEINTRESOURCEA(ordinal));
}

LoaderApi::~LoaderApi() {
    if (m_module) FreeLibrary(m_module);
}

int LoaderApi::InitSet(int hostValue, int unused1, int unused3) {
    return As<InitSetFn>(m_fn[5])(unused1, hostValue, unused3);
}
int LoaderApi::Exit() { return As<NoArgFn>(m_fn[6])(); }
int LoaderApi::AskForState(int* hostValue) { return As<HostValueFn>(m_fn[7])(hostValue); }
int LoaderApi::GetStateEqualProject(int* hostValue) {
    return As<HostValueFn>(m_fn[8])(hostValue);
}
int LoaderApi::SetStateAsProject() { return As<NoArgFn>(m_fn[9])(); }

VARIANT LoaderApi::MenuHandle(const VARIANT& command) {
    VARIANT empty;
    VariantInit(&empty);
    return As<MenuHandleFn>(m_fn[10])(command, empty, empty);
}

int LoaderApi::MenuBool(short value, VARTYPE* resultType) {
    VARIANT command;
    VariantInit(&command);
    command.vt = VT_BOOL;
    command.boolVal = value;
    VARIANT result = MenuHandle(command);
    if (resultType) *resultType = result.vt;
    return result.boolVal;
}

int LoaderApi::NotifySetChange(int code, int unused) {
    return As<NotifyFn>(m_fn[15])(code, unused);
}

}  // namespace peltest
