// Watching the plug-in's child processes from outside: what the system says
// of each (image name, pointer width, job membership), nothing the plug-in
// reports of itself.
#include "plugin_children.h"

#include <stdio.h>
#include <string.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

namespace {

// A snapshot costs the browser's process about a millisecond under Wine:
// taken seldom, so that the watching itself keeps no test from seeing the
// page quiet; the decoders of a pool live long. A kill asked for is done
// within a tick.
const DWORD TickMs = 20;
const int TicksPerLook = 10;

struct Child {
    DWORD id;
    HANDLE process;  // null when it could not be opened
    std::string name;
    int bits;
    int inJob;
    int plugins;  // 0: there before the plug-in could start it, or the system's own
    int placed;   // where its program lives is known
};

CRITICAL_SECTION Lock;
std::vector<Child> Children;
HANDLE Watcher;
volatile LONG KillAsked;
volatile LONG KillDone;
DWORD KillAt;

struct MachineRow {
    USHORT machine;
    int bits;
};
const MachineRow MachineBits[] = {
    {IMAGE_FILE_MACHINE_I386, 32},
    {IMAGE_FILE_MACHINE_ARMNT, 32},
    {IMAGE_FILE_MACHINE_AMD64, 64},
    {0xAA64 /* ARM64 */, 64},
};

int BitsOfMachine(USHORT machine) {
    for (const MachineRow& row : MachineBits) {
        if (row.machine == machine) {
            return row.bits;
        }
    }
    return 0;
}

// The pointer width the process runs with: IsWow64Process2 where the system
// has it, else IsWow64Process (emulated means 32-bit; not emulated means the
// system's own width). 0 when unknown.
int BitsOfProcess(HANDLE process) {
    typedef BOOL(WINAPI * IsWow64Process2Func)(HANDLE, USHORT*, USHORT*);
    IsWow64Process2Func isWow64Process2 =
        (IsWow64Process2Func)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process2");
    USHORT processMachine = 0, nativeMachine = 0;
    if (isWow64Process2 && isWow64Process2(process, &processMachine, &nativeMachine)) {
        return BitsOfMachine(processMachine != IMAGE_FILE_MACHINE_UNKNOWN ? processMachine : nativeMachine);
    }
    BOOL emulated = FALSE, selfEmulated = FALSE;
    if (!IsWow64Process(process, &emulated)) {
        return 0;
    }
    IsWow64Process(GetCurrentProcess(), &selfEmulated);
    return emulated ? 32 : sizeof(void*) == 8 || selfEmulated ? 64 : 32;
}

ULONGLONG Ticks(const FILETIME& time) { return (ULONGLONG)time.dwHighDateTime << 32 | time.dwLowDateTime; }

int KnownChild(DWORD id) {
    for (const Child& child : Children) {
        if (child.id == id) {
            return 1;
        }
    }
    return 0;
}

// Where the child's program lives: 1 under the Windows folder (a program of
// the system's: Wine starts its desktop, explorer.exe, as a child of the
// first process that makes a window), 0 elsewhere, -1 not known yet (a
// process just created may not answer).
int IsSystemProgram(HANDLE process) {
    char image[MAX_PATH], windows[MAX_PATH];
    DWORD size = sizeof image;
    UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    if (!process || !QueryFullProcessImageNameA(process, 0, image, &size) || length == 0 || length >= sizeof windows) {
        return -1;
    }
    return _strnicmp(image, windows, length) == 0 && image[length] == '\\';
}

std::string BaseName(const char* path) {
    const char* slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

// One snapshot: new children recorded, and each not yet seen in a job asked
// again (a process is put in its job after it was created).
void LookForChildren(int plugins) {
    DWORD self = GetCurrentProcessId();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    EnterCriticalSection(&Lock);
    for (BOOL more = snapshot != INVALID_HANDLE_VALUE && Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID != self || entry.th32ProcessID == self || KnownChild(entry.th32ProcessID)) {
            continue;
        }
        Child child = {entry.th32ProcessID, NULL, BaseName(entry.szExeFile), 0, 0, plugins, 0};
        // Wine answers whether a process is in a job only with the full
        // query right; Windows with either.
        const DWORD access = PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE;
        child.process = OpenProcess(access | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
        if (!child.process) {
            child.process = OpenProcess(access, FALSE, entry.th32ProcessID);
        }
        child.bits = child.process ? BitsOfProcess(child.process) : 0;
        Children.push_back(child);
    }
    for (Child& child : Children) {
        int system = child.placed || !child.plugins ? 0 : IsSystemProgram(child.process);
        child.placed |= system >= 0;
        child.plugins &= system != 1;
        BOOL inJob = FALSE;
        if (!child.inJob && child.process && IsProcessInJob(child.process, NULL, &inJob)) {
            child.inJob = inJob != 0;
        }
    }
    LeaveCriticalSection(&Lock);
    if (snapshot != INVALID_HANDLE_VALUE) {
        CloseHandle(snapshot);
    }
}

int KillLiveChildren() {
    int killed = 0;
    EnterCriticalSection(&Lock);
    for (const Child& child : Children) {
        if (child.plugins && child.placed && child.process &&
            WaitForSingleObject(child.process, 0) == WAIT_TIMEOUT && TerminateProcess(child.process, 1)) {
            ++killed;
        }
    }
    LeaveCriticalSection(&Lock);
    return killed;
}

DWORD WINAPI WatchChildren(void*) {
    for (int tick = 1;; ++tick) {
        Sleep(TickMs);
        if (tick % TicksPerLook == 0) {
            LookForChildren(1);
        }
        if (KillAsked && !KillDone && (LONG)(GetTickCount() - KillAt) >= 0) {
            LookForChildren(1);
            printf("plug-in children killed: %d\n", KillLiveChildren());
            fflush(stdout);
            InterlockedExchange(&KillDone, 1);
        }
    }
}

}  // namespace

void StartWatchingChildren() {
    if (Watcher) {
        return;
    }
    InitializeCriticalSection(&Lock);
    // Children already there (a console host, say) are not the plug-in's.
    LookForChildren(0);
    Watcher = CreateThread(NULL, 0, WatchChildren, NULL, 0, NULL);
}

double ChildrenCpuSeconds() {
    if (!Watcher) {
        return 0;
    }
    ULONGLONG total = 0;
    EnterCriticalSection(&Lock);
    for (const Child& child : Children) {
        FILETIME created, exited, kernel, user;
        if (child.plugins && child.placed && child.process &&
            GetProcessTimes(child.process, &created, &exited, &kernel, &user)) {
            total += Ticks(kernel) + Ticks(user);
        }
    }
    LeaveCriticalSection(&Lock);
    return (double)total / 1e7;
}

int EndedChildren() {
    if (!Watcher) {
        return 0;
    }
    int ended = 0;
    EnterCriticalSection(&Lock);
    for (const Child& child : Children) {
        ended += child.plugins && child.process && WaitForSingleObject(child.process, 0) == WAIT_OBJECT_0;
    }
    LeaveCriticalSection(&Lock);
    return ended;
}

double WatchingCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!Watcher || !GetThreadTimes(Watcher, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return (double)(Ticks(kernel) + Ticks(user)) / 1e7;
}

void KillChildrenAfter(int milliseconds) {
    KillAt = GetTickCount() + (DWORD)milliseconds;
    InterlockedExchange(&KillAsked, 1);
}

int ChildrenKillDone() { return !KillAsked || KillDone; }

void PrintPluginChildren() {
    if (!Watcher) {
        return;
    }
    LookForChildren(1);
    EnterCriticalSection(&Lock);
    for (const Child& child : Children) {
        if (child.plugins) {
            printf("plug-in child: %s bits=%d in-job=%s\n", child.name.c_str(), child.bits, child.inJob ? "yes" : "no");
        }
    }
    LeaveCriticalSection(&Lock);
    fflush(stdout);
}
