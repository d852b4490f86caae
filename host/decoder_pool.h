// Decoder processes: a pool of confined npkavrel-decoder.exe processes that
// run decode jobs for the plug-in, each one job at a time, killable at any
// moment. decode_job.cpp sends jobs here first and decodes in this process
// only when no decoder can be had.
//
// Call order:
//   StartDecoderPool()       at each NPP_New (the first one starts it, so the
//                            processes start while the file downloads)
//   RunJobInDecoder(...)     on a queue worker, from RunDecodeJob
//   CancelJobInDecoder(...)  any thread, from CancelDecodeJob
//   StopDecoderPool()        at NP_Shutdown: every decoder ends
#ifndef HOST_DECODER_POOL_H
#define HOST_DECODER_POOL_H

#include <stdint.h>
#include <windows.h>

#include "host/decode_job.h"

// Each confinement a decoder was started with, as the call setting it
// answered (bits of DecoderConfinement, with the decoder's own mitigations
// from its start report).
enum DecoderConfinement {
    ConfinedRestrictedToken = 1 << 0,  // no privileges, groups deny-only
    ConfinedLowIntegrity = 1 << 1,
    ConfinedJobKillOnClose = 1 << 2,
    ConfinedJobOneProcess = 1 << 3,
    ConfinedJobMemoryLimit = 1 << 4,   // set for each job from its planned peak
    ConfinedJobUiLimits = 1 << 5,
    ConfinedHandleList = 1 << 6,       // inherits only the handles named
    ConfinedInJob = 1 << 7,            // IsProcessInJob says so
    ConfinedNoDynamicCode = 1 << 8,
    ConfinedStrictHandles = 1 << 9,
    ConfinedNoExtensionPoints = 1 << 10,
    ConfinedImageLoads = 1 << 11,
};

// Why decoding runs in this process.
enum DecoderAbsence {
    DecoderPresent = 0,
    DecoderNotStarted = 1,       // no instance yet
    DecoderMissing = 2,          // no npkavrel-decoder.exe beside the DLL
    DecoderRefused = 3,          // the system would not start it (a policy)
    DecoderSilent = 4,           // started but never said it was ready
};

struct DecoderReport {
    int32_t absence;        // DecoderAbsence
    int32_t bits;           // the decoders' pointer width
    uint32_t confinement;   // DecoderConfinement bits the last start got
    int32_t running;        // decoder processes alive
    uint32_t stopped;       // decoders that died or were killed during a job
};

void StartDecoderPool();
void StopDecoderPool();
void ReadDecoderReport(DecoderReport* reportOut);
// 1 when the last decoder that got ready has a wider address space than
// this process (a 64-bit decoder beside a 32-bit plug-in). Takes no lock.
int DecoderIsWider();
// The sample cap a job other than a plan gets from the last decoder that
// got ready: wider for a 64-bit one; this process's own (DecodeSampleLimit)
// when none did. Takes no lock.
uint32_t DecoderSampleLimit();

// 1 when a decoder ran the job (the result filled, perhaps with a failure:
// DecodeFailureDecoderStopped when it died, DecodeFailureTimedOut when it
// passed its time limit, DecodeFailureCancelled when cancelled); 0 when no
// decoder could take it, nothing done.
int RunJobInDecoder(const DecodeJob* job, DecodeJobResult* resultOut, DecodeJobCancel* cancel);
// Ends the decoder running the job at once, if any runs it.
void CancelJobInDecoder(DecodeJobCancel* cancel);

// Unmaps a picture block a decoder gave; 0 (nothing done) for any other block.
int ReleaseDecoderBlock(uint8_t* block);

// The process ids of the decoders alive (for tests that end one); the count.
int ListDecoderProcesses(DWORD* idsOut, int limit);

#endif
