// Each element's decode life as one state, and the table of what every
// event does in every state: the next state and the one action the caller
// then takes. The decode queue keeps the state (under its lock) and changes
// it only through StepPipeline, so no job can start, end or be freed in a
// way the table does not name. Platform-free, so that the table is tested
// natively, every pair of it.
//
// Hand-overs, stated here once:
//  - who frees the record: the UI thread in NPP_Destroy, unless a job runs
//    (a state whose `running` is set): the state becomes PipeOrphaned, the
//    job is cancelled, and the worker frees the record when the job ends
//    (ActFreeRecord on the job's end event).
//  - who may read the bytes: a job reads them from when it is queued until
//    its end event. While the stream is open (`streamOpen`), the UI thread
//    writes them into the received-bytes store, which never moves them, and
//    a prefix job reads its own view of the part it was queued with (a
//    block arriving out of order may still fill a gap there that read as
//    zeros); once the stream ended every job reads the file's view, taken
//    when a worker takes the job. A new stream drops a queued job, and kills
//    a running one (ActKillOpen): its decoder process is ended, and the
//    queue keeps the file's view it reads until it ends, so the UI thread
//    closes the store and opens the next one at once.
//  - who publishes: only the running job of a state that is not `killed`,
//    under the queue's lock (BeginJobPublish, taken by every publishing
//    function itself). A killed job's end is one event (EvKilledJobEnded)
//    whatever it found, and brings the record to what the new stream's
//    events meant meanwhile.
//  - who installs a picture: a job only publishes (a level waits in
//    nextLevel, a prefix picture and a region in their own slots); the UI
//    thread alone puts them in place when the window hears of them, so
//    nothing painted is freed under the painter.
#ifndef HOST_PIPELINE_TABLE_H
#define HOST_PIPELINE_TABLE_H

#include <stdint.h>

#include "decode/admission.h"

enum PipelineState {
    PipeNoStream = 0,         // no stream yet
    PipeReceiving,            // the stream is open, no job
    PipePrefixQueued,         // open, a prefix job (picture of the part received) waits
    PipePrefixRunning,        // open, the prefix job runs
    PipePrefixThenPlan,       // ended while a prefix job runs: the plan follows it
    PipePrefixBroken,         // broken while a prefix job runs: nothing follows
    PipePrefixThenLast,       // broken while a prefix job runs: one last prefix job follows
    PipeLastPrefixQueued,     // broken: the last prefix job, of all that arrived, waits
    PipeBroken,               // broken, no job: the last prefix picture stays with the reason
    PipePlanQueued,           // ended: classify, plan, preview
    PipePlanRunning,
    PipeLevelQueued,          // the level the view (or a command) needs
    PipeLevelRunning,
    PipeRetryQueued,          // a level that ran out of memory beside others, once more alone
    PipeRetryRunning,
    PipeRegionQueued,         // the part in view of a picture past the sample cap
    PipeRegionRunning,
    PipeSettled,              // decoded, or failed for good; no job
    // A new stream came while a job of the last one ran: that job is being
    // killed (or, run in this process, abandoned); the new stream is
    PipeKilledOpen,           // open
    PipeKilledEnded,          // ended: its plan follows the killed job
    PipeKilledBroken,         // broken: nothing follows
    PipeKilledLast,           // broken: one last prefix job of it follows
    PipeOrphaned,             // destroyed while a job runs: the worker frees the record
    PipeGone,                 // freed
    PipeStateCount,
};

enum PipelineEvent {
    EvNewStream = 0,      // NPP_NewStream
    EvBytesArrived,       // NPP_Write: may the bytes be stored?
    EvPrefixDue,          // enough has arrived for a picture of the part received
    EvStreamEnded,        // NPP_DestroyStream, done
    EvStreamBroken,       // NPP_DestroyStream, any other reason
    EvJobTaken,           // a worker took the record's queued job
    EvJobDropped,         // no worker could be started to take the job just queued
    EvPrefixDone,         // a prefix job ended (with or without a picture)
    EvPlanDone,           // planned: the level comes next
    EvLevelWanted,        // the view, or a command, needs a level not decoded
    EvRegionWanted,       // the view needs the part in view finer
    EvLevelDone,          // a level (or the preview and the level) published
    EvLevelFailedMemory,  // a level ran out of memory beside other jobs
    EvLevelFailed,        // the plan or a level failed for good (its failure is published)
    EvRegionDone,         // a region job ended (with or without its part)
    EvCommandWantsLevel,  // AcquireFullPicture, AcquirePictureLevel
    EvCommandDone,        // the command's wait for its level is over
    EvDestroy,            // NPP_Destroy (once no modal loop runs on the record)
    // A decoder process's side of a running job (its executor reports them
    // through RunDecodeJob's result).
    EvJobSent,            // the job went to a decoder process
    EvPictureBack,        // the decoder gave its picture (the job's own end follows)
    EvProcessDied,        // the decoder ended before answering: the job failed
    EvTimeLimit,          // the job ran past its time limit and was killed: it failed
    EvKilledJobEnded,     // a job a new stream killed ended, whatever its outcome
    PipeEventCount,
};

enum PipelineAction {
    ActNone = 0,          // nothing to do (the event changes nothing here)
    ActRefuse,            // refuse the browser's call
    ActOpenStream,        // accept: drop the last stream's picture and bytes, and a last prefix job noted
    ActDropQueuedOpen,    // unlink the queued job, then ActOpenStream
    ActKillOpen,          // cancel the running job, keep the file's view it reads until it ends, then ActOpenStream
    ActStoreBytes,        // store the bytes
    ActQueuePrefix,       // queue a prefix job
    ActExtendPrefix,      // the queued prefix job reads all that arrived instead
    ActNoteLastPrefix,    // remember the length the last prefix job will read
    ActQueueLastPrefix,   // queue the last prefix job noted
    ActQueuePlan,         // queue the plan
    ActDropPrefixPlan,    // unlink the queued prefix job, then ActQueuePlan
    ActStartJob,          // the worker runs the job it took
    ActUnlinkJob,         // take the queued job out of its list (its failure is the caller's)
    ActQueueLevel,        // queue the level wanted
    ActQueueRetry,        // queue the level again, to run alone
    ActQueueRegion,       // queue the region job
    ActWantLevel,         // a command waits: its level becomes the level wanted
    ActWantLevelFirst,    // the same, and the queued level goes ahead of every other job
    ActEndCommandWait,    // the command no longer waits
    ActSettle,            // the job ended: look for more (a level, a region) to queue
    ActOrphan,            // cancel the running job; its worker frees the record
    ActUnlinkFree,        // unlink the queued job, then free the record
    ActFreeRecord,        // free the record
    PipeActionCount,
};

// The decode queue's lists, taken in this order.
enum PipelineJobKind {
    JobCommand = 0,  // the level a command the user waits on needs
    JobRegion = 1,   // the part in view, finer than the picture shown
    JobPlan = 2,     // classify, plan, and a preview when the level is large
    JobLevel = 3,    // the level the view needs
    JobRetry = 4,    // a level that ran out of memory, run alone
    JobPrefix = 5,   // the part of a file received so far
    JobKindCount = 6,
};

// What a state means for the hand-overs above.
struct PipelineStateFacts {
    int32_t streamOpen;  // the UI thread stores bytes
    int32_t queued;      // a job of the record waits in a list
    int32_t running;     // a job of the record runs (a worker reads the bytes and the record)
    int32_t planned;     // a plan of this stream's picture is known
    int32_t jobKind;     // the kind of the queued or running job (PipelineJobKind), else -1
    int32_t killed;      // the running job was killed by a new stream: nothing of it is published
};

struct PipelineStep {
    int32_t next;
    int32_t action;
};

// streamOpen, queued, running, planned, jobKind, killed
inline const PipelineStateFacts PipelineStateTable[PipeStateCount] = {
    {0, 0, 0, 0, -1, 0},         // PipeNoStream
    {1, 0, 0, 0, -1, 0},         // PipeReceiving
    {1, 1, 0, 0, JobPrefix, 0},  // PipePrefixQueued
    {1, 0, 1, 0, JobPrefix, 0},  // PipePrefixRunning
    {0, 0, 1, 0, JobPrefix, 0},  // PipePrefixThenPlan
    {0, 0, 1, 0, JobPrefix, 0},  // PipePrefixBroken
    {0, 0, 1, 0, JobPrefix, 0},  // PipePrefixThenLast
    {0, 1, 0, 0, JobPrefix, 0},  // PipeLastPrefixQueued
    {0, 0, 0, 0, -1, 0},         // PipeBroken
    {0, 1, 0, 0, JobPlan, 0},    // PipePlanQueued
    {0, 0, 1, 0, JobPlan, 0},    // PipePlanRunning
    {0, 1, 0, 1, JobLevel, 0},   // PipeLevelQueued
    {0, 0, 1, 1, JobLevel, 0},   // PipeLevelRunning
    {0, 1, 0, 1, JobRetry, 0},   // PipeRetryQueued
    {0, 0, 1, 1, JobRetry, 0},   // PipeRetryRunning
    {0, 1, 0, 1, JobRegion, 0},  // PipeRegionQueued
    {0, 0, 1, 1, JobRegion, 0},  // PipeRegionRunning
    {0, 0, 0, 1, -1, 0},         // PipeSettled
    {1, 0, 1, 0, -1, 1},         // PipeKilledOpen
    {0, 0, 1, 0, -1, 1},         // PipeKilledEnded
    {0, 0, 1, 0, -1, 1},         // PipeKilledBroken
    {0, 0, 1, 0, -1, 1},         // PipeKilledLast
    {0, 0, 1, 0, -1, 0},         // PipeOrphaned
    {0, 0, 0, 0, -1, 0},         // PipeGone
};

inline const PipelineStateFacts* PipelineFacts(int32_t state) {
    return &PipelineStateTable[state >= 0 && state < PipeStateCount ? state : PipeGone];
}

PipelineStep StepPipeline(int32_t state, int32_t event);
// Where a record goes after its job.
enum JobOutcome {
    OutcomeDone = 0,      // published (or failed for good); more only if the target moved
    OutcomeLevel = 1,     // planned, a preview published: its level comes next
    OutcomePlanned = 2,   // planned, nothing published: its level comes next
    OutcomeRetry = 3,     // ran out of memory beside others: once more, alone
    OutcomeGaveUp = 4,    // a larger level could not be had; the shown one stays
    OutcomeRegion = 5,    // a part in view decoded (or left coarser)
    OutcomePartial = 6,   // a partial picture published
    OutcomeNoPartial = 7, // the part received could not be decoded yet
    OutcomeFailed = 8,    // the plan failed, or the first level: the file's failure is published
};

// The event a job amounts to when it ends in `state`: in a killed state
// always EvKilledJobEnded (its decoder was ended on purpose); else a
// decoder process that died or was stopped for time during it
// (`decoderEnd`, a DecodeFailure value: only those two count), else its
// outcome.
int32_t JobEndEvent(int32_t state, int32_t outcome, int32_t decoderEnd);

// The head of one list as admission sees it: its memory, from its plan and
// level, else from a bound (`boundBytes`) for a job whose plan is not known.
// A planned job a wider decoder process will run (peakElsewhere, an
// admission.h Peak* value) is charged only its bitmap here, or a view of it
// when it stays in the decoder's section; a bound job, small, is charged its
// bound wherever it runs.
struct JobCandidate {
    int32_t present;
    const DecodePlan* plan;  // null: boundBytes is the job's memory
    int32_t reduce;          // the level wanted (a retry: the one it ran at)
    uint64_t boundBytes;
    uint32_t compressedBytes;
    int32_t peakElsewhere;
};

// The jobs running now.
struct RunningJobs {
    int32_t count;
    int32_t threads;
    uint64_t committedBytes;
    int32_t alone;  // one of them runs alone
};

struct JobChoice {
    int32_t kind;  // the list to take from, or -1: none now
    Admission admission;
};

// Which job a free worker takes: only the head of each list, in the lists'
// order, so a large job waiting for memory is not overtaken for ever. Every
// job is admitted by memory (AdmitDecode) and gets the threads admission
// gave it. A retry runs alone: it waits until nothing runs, holds the rest
// back while it waits and while it runs, and is charged the level it ran at
// (or the largest that fits alone).
JobChoice ChooseJob(const JobCandidate heads[JobKindCount], const RunningJobs* running, uint64_t freeBytes,
                    int32_t processors);
int32_t JobRunsAlone(int32_t kind);

// The memory bound of a plan job (the header, and a preview of at most a
// sixteenth of the capped picture) and of a region job (the region alone).
uint64_t PlanJobBytes(uint32_t compressedBytes, uint32_t sampleLimit);
uint64_t RegionJobBytes(const DecodePlan* plan, uint32_t regionWidth, uint32_t regionHeight, int32_t reduce,
                        uint32_t compressedBytes);

#endif
