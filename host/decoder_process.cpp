// Starting one decoder process confined as a browser confines its
// renderers, and recording what each confining call answered: under Wine
// most of them succeed without effect, and on a Windows that lacks one the
// decoder still starts with the rest. The pool shows the record in About.
#include "host/decoder_process.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "decoder/job_protocol.h"
#include "host/decoder_pool.h"

namespace {

const DWORD UiLimits = JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_READCLIPBOARD |
                       JOB_OBJECT_UILIMIT_WRITECLIPBOARD | JOB_OBJECT_UILIMIT_GLOBALATOMS |
                       JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS | JOB_OBJECT_UILIMIT_DISPLAYSETTINGS |
                       JOB_OBJECT_UILIMIT_EXITWINDOWS | JOB_OBJECT_UILIMIT_HANDLES;
// The decoder's own code, stacks and the codec's bookkeeping beside a job's planned peak.
const uint64_t MemoryMarginBytes = 96ull << 20;

// The job limits, each set by a call of its own so that each is recorded:
// (flags added, the confinement they give).
struct JobLimitStep {
    DWORD flags;
    uint32_t confinement;
};
const JobLimitStep JobLimitSteps[] = {
    {JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION, ConfinedJobKillOnClose},
    {JOB_OBJECT_LIMIT_ACTIVE_PROCESS, ConfinedJobOneProcess},
    {JOB_OBJECT_LIMIT_PROCESS_MEMORY, ConfinedJobMemoryLimit},
};

// Its mitigations, as the decoder reports them, in the pool's terms.
const uint32_t MitigationConfinement[][2] = {
    {DecoderStartNoDynamicCode, ConfinedNoDynamicCode},
    {DecoderStartStrictHandles, ConfinedStrictHandles},
    {DecoderStartNoExtensionPoints, ConfinedNoExtensionPoints},
    {DecoderStartImageLoads, ConfinedImageLoads},
};

JOBOBJECT_EXTENDED_LIMIT_INFORMATION JobLimits(DWORD flags, uint64_t memoryBytes) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = flags;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    limits.ProcessMemoryLimit = (SIZE_T)(memoryBytes < (SIZE_T)-1 ? memoryBytes : (SIZE_T)-1);
    return limits;
}

HANDLE MakeJob(uint32_t* confinement) {
    HANDLE job = CreateJobObjectW(NULL, NULL);
    if (!job) return NULL;
    DWORD flags = 0;
    for (const JobLimitStep& step : JobLimitSteps) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = JobLimits(flags | step.flags, MemoryMarginBytes);
        if (SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            flags |= step.flags;
            *confinement |= step.confinement;
        }
    }
    JOBOBJECT_BASIC_UI_RESTRICTIONS ui = {UiLimits};
    if (SetInformationJobObject(job, JobObjectBasicUIRestrictions, &ui, sizeof ui)) {
        *confinement |= ConfinedJobUiLimits;
    }
    return job;
}

// Every group deny-only but the logon session's and the integrity label,
// every privilege gone; then the low integrity level. Null when no
// restricted token can be made.
HANDLE MakeRestrictedToken(uint32_t* confinement) {
    HANDLE own = NULL;
    HANDLE restricted = NULL;
    TOKEN_GROUPS* groups = NULL;
    SID_AND_ATTRIBUTES* denied = NULL;
    DWORD size = 0;
    DWORD count = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &own)) {
        goto done;
    }
    GetTokenInformation(own, TokenGroups, NULL, 0, &size);
    groups = size ? (TOKEN_GROUPS*)malloc(size) : NULL;
    if (!groups || !GetTokenInformation(own, TokenGroups, groups, size, &size)) {
        goto done;
    }
    denied = (SID_AND_ATTRIBUTES*)calloc(groups->GroupCount + 1, sizeof *denied);
    if (!denied) goto done;
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (!(groups->Groups[i].Attributes & (SE_GROUP_LOGON_ID | SE_GROUP_INTEGRITY))) {
            denied[count++].Sid = groups->Groups[i].Sid;
        }
    }
    if (!CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, count, denied, 0, NULL, 0, NULL, &restricted)) {
        restricted = NULL;
        goto done;
    }
    *confinement |= ConfinedRestrictedToken;
    {
        SID_IDENTIFIER_AUTHORITY label = SECURITY_MANDATORY_LABEL_AUTHORITY;
        PSID low = NULL;
        if (AllocateAndInitializeSid(&label, 1, SECURITY_MANDATORY_LOW_RID, 0, 0, 0, 0, 0, 0, 0, &low)) {
            TOKEN_MANDATORY_LABEL level = {{low, SE_GROUP_INTEGRITY}};
            if (SetTokenInformation(restricted, TokenIntegrityLevel, &level, sizeof level + GetLengthSid(low))) {
                *confinement |= ConfinedLowIntegrity;
            }
            FreeSid(low);
        }
    }
done:
    free(denied);
    free(groups);
    if (own) CloseHandle(own);
    return restricted;
}

// Started suspended with the three handles as the only ones inherited,
// under the restricted token when there is one (else the plug-in's own).
int CreateSuspended(PROCESS_INFORMATION* started, const wchar_t* path, HANDLE token, HANDLE inherited[3],
                    uint32_t* confinement) {
    wchar_t line[MAX_PATH + 80];
    _snwprintf(line, sizeof line / sizeof line[0], L"\"%ls\" %llx %llx %llx", path,
               (unsigned long long)(uintptr_t)inherited[0], (unsigned long long)(uintptr_t)inherited[1],
               (unsigned long long)(uintptr_t)inherited[2]);
    line[sizeof line / sizeof line[0] - 1] = 0;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(NULL, 1, 0, &size);
    LPPROC_THREAD_ATTRIBUTE_LIST attributes = size ? (LPPROC_THREAD_ATTRIBUTE_LIST)malloc(size) : NULL;
    int listed = attributes && InitializeProcThreadAttributeList(attributes, 1, 0, &size);
    int limited = listed && UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                                      3 * sizeof(HANDLE), NULL, NULL);
    int created = 0;
    // Without a handle list the decoder would inherit every inheritable handle of the browser: not started.
    if (limited) {
        *confinement |= ConfinedHandleList;
        STARTUPINFOEXW startup = {};
        startup.StartupInfo.cb = sizeof startup;
        startup.lpAttributeList = attributes;
        DWORD flags = CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW;
        created = token && CreateProcessAsUserW(token, path, line, NULL, NULL, TRUE, flags, NULL, NULL,
                                                &startup.StartupInfo, started);
        if (!created) {
            *confinement &= ~(uint32_t)(ConfinedRestrictedToken | ConfinedLowIntegrity);
            created = CreateProcessW(path, line, NULL, NULL, TRUE, flags, NULL, NULL, &startup.StartupInfo, started);
        }
    }
    if (listed) DeleteProcThreadAttributeList(attributes);
    free(attributes);
    return created;
}

}  // namespace

int AwaitStartReport(DecoderProcess* decoder, DWORD waitMs) {
    if (decoder->bits) {
        return 1;
    }
    HANDLE waits[2] = {decoder->reply, decoder->process};
    if (WaitForMultipleObjects(2, waits, FALSE, waitMs) != WAIT_OBJECT_0) {
        return 0;
    }
    DecoderStart start;
    memcpy(&start, decoder->view + DecoderStartOffset, sizeof start);
    if (start.magic != JobMagic || (start.bits != 32 && start.bits != 64)) {
        return 0;
    }
    decoder->bits = (int32_t)start.bits;
    for (const auto& row : MitigationConfinement) {
        if (start.mitigations & row[0]) decoder->confinement |= row[1];
    }
    return 1;
}

namespace {

int MakeChannel(DecoderProcess* decoder) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    decoder->page = CreateFileMappingW(INVALID_HANDLE_VALUE, &inheritable, PAGE_READWRITE, 0, JobPageBytes, NULL);
    decoder->view = decoder->page ? (uint8_t*)MapViewOfFile(decoder->page, FILE_MAP_WRITE, 0, 0, JobPageBytes) : NULL;
    decoder->request = CreateEventW(&inheritable, FALSE, FALSE, NULL);
    decoder->reply = CreateEventW(&inheritable, FALSE, FALSE, NULL);
    return decoder->view && decoder->request && decoder->reply;
}

}  // namespace

int StartDecoderProcess(DecoderProcess* decoderOut, const wchar_t* path, int* absenceOut) {
    DecoderProcess decoder = {};
    PROCESS_INFORMATION started = {};
    HANDLE token = NULL;
    *absenceOut = DecoderRefused;
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        *absenceOut = DecoderMissing;
        goto fail;
    }
    if (!MakeChannel(&decoder)) goto fail;
    decoder.job = MakeJob(&decoder.confinement);
    token = MakeRestrictedToken(&decoder.confinement);
    {
        HANDLE inherited[3] = {decoder.page, decoder.request, decoder.reply};
        if (!CreateSuspended(&started, path, token, inherited, &decoder.confinement)) goto fail;
    }
    decoder.process = started.hProcess;
    decoder.id = started.dwProcessId;
    if (decoder.job && AssignProcessToJobObject(decoder.job, decoder.process)) {
        BOOL inJob = FALSE;
        if (IsProcessInJob(decoder.process, decoder.job, &inJob) && inJob) {
            decoder.confinement |= ConfinedInJob;
        }
    }
    // Below the browser: a decode on every processor must not delay the
    // browser's thread (its writes, paints and input) by a time slice.
    SetPriorityClass(decoder.process, BELOW_NORMAL_PRIORITY_CLASS);
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    if (token) CloseHandle(token);
    *decoderOut = decoder;
    *absenceOut = DecoderPresent;
    return 1;
fail:
    if (token) CloseHandle(token);
    EndDecoderProcess(&decoder);
    return 0;
}

void EndDecoderProcess(DecoderProcess* decoder) {
    if (decoder->process) {
        TerminateProcess(decoder->process, 1);
        CloseHandle(decoder->process);
    }
    if (decoder->job) CloseHandle(decoder->job);
    if (decoder->view) UnmapViewOfFile(decoder->view);
    if (decoder->page) CloseHandle(decoder->page);
    if (decoder->request) CloseHandle(decoder->request);
    if (decoder->reply) CloseHandle(decoder->reply);
    memset(decoder, 0, sizeof *decoder);
}

int LimitDecoderMemory(const DecoderProcess* decoder, uint64_t plannedBytes) {
    if (!(decoder->confinement & ConfinedJobMemoryLimit)) {
        return 0;
    }
    // A job whose peak is not known (a plan and its preview) runs without one.
    DWORD flags = 0;
    for (const JobLimitStep& step : JobLimitSteps) {
        if ((decoder->confinement & step.confinement) &&
            (plannedBytes > 0 || step.confinement != ConfinedJobMemoryLimit)) {
            flags |= step.flags;
        }
    }
    // The plan is an estimate from the header: a quarter more, and the margin.
    uint64_t slack = plannedBytes / 4 + MemoryMarginBytes;
    uint64_t bytes = plannedBytes > ~0ull - slack ? ~0ull : plannedBytes + slack;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = JobLimits(flags, bytes);
    return SetInformationJobObject(decoder->job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}
