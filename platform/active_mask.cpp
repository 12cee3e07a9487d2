#include "platform/active_mask.h"

#include "platform/vemm_key.h"

DWORD ActiveOptionMask() {
    VemmKey key;
    if (key.OpenKey(HKEY_LOCAL_MACHINE, L"OPTIONS\\Active") != 0) return 0;
    DWORD mask = 0;
    key.QueryDWORDValue(L"ActiveOpt", &mask);
    key.CloseKey();
    return mask;
}
