#include "config/pel_init.h"
#include "config/ini_document.h"
CPelInit::~CPelInit() { delete m_pObjQXAC; delete m_pObjMenu; }
int CPelInit::ReadQXActive() { return 0; }
int CPelInit::FillPluginItem(const wchar_t*) { return 0; }
std::wstring GetInstalledCompose(const wchar_t* value) { return value ? value : L""; }
