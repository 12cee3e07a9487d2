#include "config/pel_init.h"
int CPelInit::ReadMenuIni() { return 0; }
int CPelInit::GetModuleMenuInfo(const wchar_t*) { return 0; }
int CPelInit::FillPluginMenuInfo(const wchar_t*) { return 0; }
void CPelInit::ParseInvoker(const wchar_t*) {}
