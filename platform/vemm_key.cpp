// Placeholder: the store client arrives with its own change.
#include "platform/vemm_key.h"
VemmKey::~VemmKey() { Release(); }
LONG VemmKey::EnsureStore() { return 126; }
LONG VemmKey::OpenKey(HKEY, const wchar_t*) { return 126; }
LONG VemmKey::QueryDWORDValue(const wchar_t*, DWORD*) { return 126; }
LONG VemmKey::QueryStringValue(const wchar_t*, wchar_t*, ULONG* chars) { *chars = 0; return 126; }
void VemmKey::CloseKey() {}
void VemmKey::Release() {}
