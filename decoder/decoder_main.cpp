// npkavrel-decoder.exe: one decoder process of the plug-in's pool. It is
// given three inherited handles on its command line: the job page and the
// events "request written" and "reply written". It first closes what it may
// of itself (the mitigation policies the system offers), says which it got
// in the page, then serves requests until it is ended: the file's sections
// mapped read-only, the bitmap placed in a section of its own whose handle
// the plug-in takes over. Once running it opens no file and loads no library.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "decoder/job_protocol.h"
#include "host/received_bytes.h"

namespace {

// The blocks a job's decode made; the one it hands over leaves with the reply.
struct PlacedBlock {
    uint8_t* view;
    HANDLE section;
};
// A composed picture holds its canvas and a layer or two at once.
enum { PlacedLimit = 64 };
PlacedBlock Placed[PlacedLimit];
CRITICAL_SECTION PlacedLock;

uint8_t* PlaceBitmap(uint32_t size) {
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, size, NULL);
    uint8_t* view = section ? (uint8_t*)MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, size) : NULL;
    EnterCriticalSection(&PlacedLock);
    int slot = 0;
    while (slot < PlacedLimit && Placed[slot].view) {
        ++slot;
    }
    if (view && slot < PlacedLimit) {
        Placed[slot] = PlacedBlock{view, section};
    } else {
        if (view) UnmapViewOfFile(view);
        if (section) CloseHandle(section);
        view = NULL;
    }
    LeaveCriticalSection(&PlacedLock);
    return view;
}

// The section of a placed block, its view unmapped; null when not placed.
HANDLE UnplaceBitmap(uint8_t* block) {
    HANDLE section = NULL;
    EnterCriticalSection(&PlacedLock);
    for (PlacedBlock& placed : Placed) {
        if (block && placed.view == block) {
            UnmapViewOfFile(placed.view);
            section = placed.section;
            placed = PlacedBlock{NULL, NULL};
        }
    }
    LeaveCriticalSection(&PlacedLock);
    return section;
}

void ReleaseBitmap(uint8_t* block) {
    HANDLE section = UnplaceBitmap(block);
    if (section) CloseHandle(section);
}

// The mitigations a process may set on itself, where this Windows has them.
typedef BOOL(WINAPI* SetMitigationFunction)(int policy, void* buffer, SIZE_T length);

struct MitigationRow {
    uint32_t flag;  // DecoderStart* bit
    int policy;     // PROCESS_MITIGATION_POLICY
    DWORD value;    // the policy structure's flags
};

const MitigationRow MitigationRows[] = {
    // ProcessDynamicCodePolicy: ProhibitDynamicCode.
    {DecoderStartNoDynamicCode, 2, 0x1},
    // ProcessStrictHandleCheckPolicy: raise on a bad handle, for good.
    {DecoderStartStrictHandles, 3, 0x3},
    // ProcessExtensionPointDisablePolicy: no legacy extension DLLs.
    {DecoderStartNoExtensionPoints, 6, 0x1},
    // ProcessImageLoadPolicy: no remote images, none labelled low, System32 first.
    {DecoderStartImageLoads, 10, 0x7},
};

uint32_t SetMitigations() {
    SetMitigationFunction set =
        (SetMitigationFunction)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetProcessMitigationPolicy");
    uint32_t accepted = 0;
    for (const MitigationRow& row : MitigationRows) {
        DWORD value = row.value;
        if (set && set(row.policy, &value, sizeof value)) {
            accepted |= row.flag;
        }
    }
    return accepted;
}

// The handles on the command line, in hexadecimal; 1 when all three are there.
int ReadHandles(HANDLE handles[3], const char* line) {
    char* end = (char*)line;
    for (int i = 0; i < 3; ++i) {
        unsigned long long value = strtoull(end, &end, 16);
        if (value == 0) return 0;
        handles[i] = (HANDLE)(uintptr_t)value;
    }
    return 1;
}

// Processor time of every thread of this process (a job's codec threads
// included), in 100 ns units; 0 when it cannot be read.
uint64_t ProcessProcessorTime() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    return ((uint64_t)kernel.dwHighDateTime << 32 | kernel.dwLowDateTime) +
           ((uint64_t)user.dwHighDateTime << 32 | user.dwLowDateTime);
}

void ServeOne(uint8_t* page) {
    JobRequest request;
    JobReply reply = {};
    uint8_t* block = NULL;
    uint64_t processorStart = ProcessProcessorTime();
    if (!ReadJobRequest(&request, page, JobPageBytes)) {
        reply.magic = JobMagic;
        reply.version = JobProtocolVersion;
        reply.sequence = request.sequence;
        reply.failure = DecodeFailureArguments;
    } else {
        HANDLE sections[JobSectionLimit];
        for (int32_t i = 0; i < request.sectionCount; ++i) {
            sections[i] = (HANDLE)(uintptr_t)request.sections[i];
        }
        BytesView bytes;
        if (MapSectionsSideBySide(&bytes, sections, request.capacities, request.sectionCount, request.length)) {
            ServeJobRequest(&reply, &block, &request, bytes.data);
            ReleaseBytesView(&bytes);
        } else {
            for (int32_t i = 0; i < request.sectionCount; ++i) {
                CloseHandle(sections[i]);
            }
            ServeJobRequest(&reply, &block, &request, NULL);
            reply.failure = DecodeFailureOutOfMemory;
        }
    }
    // The plug-in takes the section over (and closes it here) when it reads the reply.
    reply.block = (uint64_t)(uintptr_t)UnplaceBitmap(block);
    reply.processorTime = ProcessProcessorTime() - processorStart;
    memcpy(page + JobReplyOffset, &reply, sizeof reply);
    // Blocks a failed decode left behind.
    for (PlacedBlock& placed : Placed) {
        ReleaseBitmap(placed.view);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR line, int) {
    InitializeCriticalSection(&PlacedLock);
    SetBitmapAllocator(PlaceBitmap, ReleaseBitmap);
    // Errors are answered, never shown in a box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    HANDLE handles[3];
    if (!ReadHandles(handles, line)) {
        return 2;
    }
    uint8_t* page = (uint8_t*)MapViewOfFile(handles[0], FILE_MAP_WRITE, 0, 0, JobPageBytes);
    if (!page) {
        return 3;
    }
    DecoderStart start = {JobMagic, SetMitigations(), (uint32_t)(sizeof(void*) * 8)};
    memcpy(page + DecoderStartOffset, &start, sizeof start);
    SetEvent(handles[2]);
    while (WaitForSingleObject(handles[1], INFINITE) == WAIT_OBJECT_0) {
        ServeOne(page);
        SetEvent(handles[2]);
    }
    return 0;
}
