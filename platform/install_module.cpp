// Placeholder: the install library client arrives with its own change.
#include "platform/install_module.h"
QXInstallModule* g_pInstallModule = nullptr;
QXInstallModule::QXInstallModule() : m_hLibrary(nullptr), m_szLibraryPath{}, m_pfn{} {}
QXInstallModule::~QXInstallModule() { Unload(); }
void QXInstallModule::Unload() {}
const wchar_t* QXInstallModule::GetLibraryPath() { return m_szLibraryPath; }
BOOL QXInstallModule::Load() { return FALSE; }
FARPROC QXInstallModule::Entry(int) const { return nullptr; }
int GetWorkPathFile(wchar_t*, const wchar_t*, const wchar_t*) { return 0; }
int GetComposeInstallPath(wchar_t*) { return 0; }
int IsComposeInstalled(const wchar_t*) { return 0; }
