// Names the calling thread, so that a profiler, a debugger or the
// benchmark's scheduling can tell the plug-in's threads apart. The call is
// Windows 10's: looked up, and skipped where it is not there.
#ifndef HOST_THREAD_NAME_H
#define HOST_THREAD_NAME_H

#include <windows.h>

inline void NameCurrentThread(const wchar_t* name) {
    typedef HRESULT(WINAPI * SetDescription)(HANDLE, PCWSTR);
    SetDescription describe =
        (SetDescription)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription");
    if (describe) {
        describe(GetCurrentThread(), name);
    }
}

#endif
