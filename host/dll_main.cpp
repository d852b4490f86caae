// The DLL's entry: on process attach the module starts up; on unload the
// converted texts are freed.
#include <windows.h>

#include "host/host_internal.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeModule(module);
    }
    // At process exit (reserved set) the heap goes with the process anyway;
    // a browser that unloads the plug-in gets the texts' memory back.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        ReleaseUiStrings();
    }
    return TRUE;
}
