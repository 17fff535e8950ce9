#include "actions/QelCustInst.h"

// The library keeps no state of its own: loading and unloading it create and destroy nothing.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
