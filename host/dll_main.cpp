// The DLL's entry: on process attach the module starts up; nothing else runs.
#include <windows.h>

#include "host/host_internal.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeModule(module);
    }
    return TRUE;
}
