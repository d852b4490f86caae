// One decoder process, started confined: restricted token, low integrity,
// a job object of its own with the limits a browser's sandbox sets, only
// the three handles it needs. Used by the pool (decoder_pool.cpp) alone.
#ifndef HOST_DECODER_PROCESS_H
#define HOST_DECODER_PROCESS_H

#include <stdint.h>
#include <windows.h>

struct DecoderProcess {
    HANDLE process;
    DWORD id;
    HANDLE job;       // kill on close: the decoder never outlives this process
    HANDLE page;      // the job page's section
    uint8_t* view;    // JobPageBytes
    HANDLE request;   // auto-reset events: "request written", "reply written"
    HANDLE reply;
    uint32_t confinement;  // DecoderConfinement bits
    int32_t bits;          // 0 until its start report is read
};

// 1 with the process started (it gets ready on its own: the browser's
// thread never waits for it); else 0 with the reason (a DecoderAbsence) in
// *absenceOut and nothing left open.
int StartDecoderProcess(DecoderProcess* decoderOut, const wchar_t* path, int* absenceOut);
// Waits up to waitMs for the decoder's start report (read once), which adds
// its own mitigations to its confinement; 1 when it is ready.
int AwaitStartReport(DecoderProcess* decoder, DWORD waitMs);
// Kills the process (when alive) and closes everything.
void EndDecoderProcess(DecoderProcess* decoder);
// The process's memory limit for its next job: its planned peak and a
// margin; none for a job whose peak is not known (0).
int LimitDecoderMemory(const DecoderProcess* decoder, uint64_t plannedBytes);

#endif
