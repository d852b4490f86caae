// The decode pipeline's table: every (state, event) that does something,
// the facts of each state, and which queued job a free worker takes.
#include "host/pipeline_table.h"

namespace {

const int32_t AnyState = -1;

struct PipelineRow {
    int32_t state;  // or AnyState: every state without a row of its own
    int32_t event;
    int32_t next;   // or AnyState: the state stays
    int32_t action;
};

const int32_t Stay = AnyState;

// The event each job outcome amounts to.
struct OutcomeEvent {
    int32_t outcome;
    int32_t event;
};
const OutcomeEvent OutcomeEvents[] = {
    {OutcomeDone, EvLevelDone},          {OutcomeLevel, EvPlanDone},      {OutcomePlanned, EvPlanDone},
    {OutcomeRetry, EvLevelFailedMemory}, {OutcomeGaveUp, EvLevelFailed},  {OutcomeFailed, EvLevelFailed},
    {OutcomeRegion, EvRegionDone},       {OutcomePartial, EvPrefixDone},  {OutcomeNoPartial, EvPrefixDone},
};

// Rows are looked up in order; a pair without a row stays with ActNone.
const PipelineRow Rows[] = {
    // The browser's stream. A new one is always taken: a queued job is
    // dropped, a running one killed; its bytes only while it is open.
    {PipeNoStream, EvNewStream, PipeReceiving, ActOpenStream},
    {PipeReceiving, EvNewStream, PipeReceiving, ActOpenStream},
    {PipeBroken, EvNewStream, PipeReceiving, ActOpenStream},
    {PipeSettled, EvNewStream, PipeReceiving, ActOpenStream},
    {PipePrefixQueued, EvNewStream, PipeReceiving, ActDropQueuedOpen},
    {PipeLastPrefixQueued, EvNewStream, PipeReceiving, ActDropQueuedOpen},
    {PipePlanQueued, EvNewStream, PipeReceiving, ActDropQueuedOpen},
    {PipeLevelQueued, EvNewStream, PipeReceiving, ActDropQueuedOpen},
    {PipeRetryQueued, EvNewStream, PipeReceiving, ActDropQueuedOpen},
    {PipeRegionQueued, EvNewStream, PipeReceiving, ActDropQueuedOpen},
    {PipePrefixRunning, EvNewStream, PipeKilledOpen, ActKillOpen},
    {PipePrefixThenPlan, EvNewStream, PipeKilledOpen, ActKillOpen},
    {PipePrefixBroken, EvNewStream, PipeKilledOpen, ActKillOpen},
    {PipePrefixThenLast, EvNewStream, PipeKilledOpen, ActKillOpen},
    {PipePlanRunning, EvNewStream, PipeKilledOpen, ActKillOpen},
    {PipeLevelRunning, EvNewStream, PipeKilledOpen, ActKillOpen},
    {PipeRetryRunning, EvNewStream, PipeKilledOpen, ActKillOpen},
    {PipeRegionRunning, EvNewStream, PipeKilledOpen, ActKillOpen},
    {PipeKilledOpen, EvNewStream, PipeKilledOpen, ActOpenStream},
    {PipeKilledEnded, EvNewStream, PipeKilledOpen, ActOpenStream},
    {PipeKilledBroken, EvNewStream, PipeKilledOpen, ActOpenStream},
    {PipeKilledLast, EvNewStream, PipeKilledOpen, ActOpenStream},
    {AnyState, EvNewStream, Stay, ActRefuse},
    {PipeReceiving, EvBytesArrived, Stay, ActStoreBytes},
    {PipePrefixQueued, EvBytesArrived, Stay, ActStoreBytes},
    {PipePrefixRunning, EvBytesArrived, Stay, ActStoreBytes},
    {PipeKilledOpen, EvBytesArrived, Stay, ActStoreBytes},
    {AnyState, EvBytesArrived, Stay, ActRefuse},
    {PipeReceiving, EvStreamEnded, PipePlanQueued, ActQueuePlan},
    {PipePrefixQueued, EvStreamEnded, PipePlanQueued, ActDropPrefixPlan},
    {PipePrefixRunning, EvStreamEnded, PipePrefixThenPlan, ActNone},
    {PipeKilledOpen, EvStreamEnded, PipeKilledEnded, ActNone},
    {PipeReceiving, EvStreamBroken, PipeBroken, ActNone},
    {PipePrefixQueued, EvStreamBroken, PipeLastPrefixQueued, ActNone},
    {PipePrefixRunning, EvStreamBroken, PipePrefixBroken, ActNone},
    {PipeKilledOpen, EvStreamBroken, PipeKilledBroken, ActNone},

    // Pictures of the part received: one prefix job at a time, behind
    // every other job; after a broken stream one last of all that arrived.
    {PipeReceiving, EvPrefixDue, PipePrefixQueued, ActQueuePrefix},
    {PipeBroken, EvPrefixDue, PipeLastPrefixQueued, ActQueuePrefix},
    {PipeLastPrefixQueued, EvPrefixDue, Stay, ActExtendPrefix},
    {PipePrefixBroken, EvPrefixDue, PipePrefixThenLast, ActNoteLastPrefix},
    {PipePrefixThenLast, EvPrefixDue, Stay, ActNoteLastPrefix},
    {PipeKilledBroken, EvPrefixDue, PipeKilledLast, ActNoteLastPrefix},
    {PipeKilledLast, EvPrefixDue, Stay, ActNoteLastPrefix},

    // A worker takes the queued job.
    {PipePrefixQueued, EvJobTaken, PipePrefixRunning, ActStartJob},
    {PipeLastPrefixQueued, EvJobTaken, PipePrefixBroken, ActStartJob},
    {PipePlanQueued, EvJobTaken, PipePlanRunning, ActStartJob},
    {PipeLevelQueued, EvJobTaken, PipeLevelRunning, ActStartJob},
    {PipeRetryQueued, EvJobTaken, PipeRetryRunning, ActStartJob},
    {PipeRegionQueued, EvJobTaken, PipeRegionRunning, ActStartJob},
    {PipePrefixQueued, EvJobDropped, PipeReceiving, ActUnlinkJob},
    {PipeLastPrefixQueued, EvJobDropped, PipeBroken, ActUnlinkJob},
    {PipePlanQueued, EvJobDropped, PipeSettled, ActUnlinkJob},
    {PipeLevelQueued, EvJobDropped, PipeSettled, ActUnlinkJob},
    {PipeRetryQueued, EvJobDropped, PipeSettled, ActUnlinkJob},
    {PipeRegionQueued, EvJobDropped, PipeSettled, ActUnlinkJob},

    // Jobs end. A record destroyed meanwhile is freed by the worker.
    {PipePrefixRunning, EvPrefixDone, PipeReceiving, ActNone},
    {PipePrefixThenPlan, EvPrefixDone, PipePlanQueued, ActQueuePlan},
    {PipePrefixBroken, EvPrefixDone, PipeBroken, ActNone},
    {PipePrefixThenLast, EvPrefixDone, PipeLastPrefixQueued, ActQueueLastPrefix},
    {PipePlanRunning, EvPlanDone, PipeLevelQueued, ActQueueLevel},
    {PipeLevelRunning, EvLevelDone, PipeSettled, ActSettle},
    {PipeRetryRunning, EvLevelDone, PipeSettled, ActSettle},
    // The retry belongs to the level that ran out of memory: a level
    // wanted later gets a retry of its own.
    {PipeLevelRunning, EvLevelFailedMemory, PipeRetryQueued, ActQueueRetry},
    {PipeRetryRunning, EvLevelFailedMemory, PipeSettled, ActSettle},
    {PipePlanRunning, EvLevelFailed, PipeSettled, ActSettle},
    {PipeLevelRunning, EvLevelFailed, PipeSettled, ActSettle},
    {PipeRetryRunning, EvLevelFailed, PipeSettled, ActSettle},
    {PipeRegionRunning, EvRegionDone, PipeSettled, ActSettle},
    {PipeOrphaned, EvPrefixDone, PipeGone, ActFreeRecord},
    {PipeOrphaned, EvPlanDone, PipeGone, ActFreeRecord},
    {PipeOrphaned, EvLevelDone, PipeGone, ActFreeRecord},
    {PipeOrphaned, EvLevelFailedMemory, PipeGone, ActFreeRecord},
    {PipeOrphaned, EvLevelFailed, PipeGone, ActFreeRecord},
    {PipeOrphaned, EvRegionDone, PipeGone, ActFreeRecord},
    // A killed job publishes nothing; its end brings the new stream's turn.
    // No prefix job is asked while it runs (the record is busy), but one
    // last one of a broken stream is noted for after it.
    {PipeKilledOpen, EvKilledJobEnded, PipeReceiving, ActNone},
    {PipeKilledEnded, EvKilledJobEnded, PipePlanQueued, ActQueuePlan},
    {PipeKilledBroken, EvKilledJobEnded, PipeBroken, ActNone},
    {PipeKilledLast, EvKilledJobEnded, PipeLastPrefixQueued, ActQueueLastPrefix},

    // A decoder process that died or was killed ends its job as a failure.
    {PipePrefixRunning, EvProcessDied, PipeReceiving, ActNone},
    {PipePrefixThenPlan, EvProcessDied, PipePlanQueued, ActQueuePlan},
    {PipePrefixBroken, EvProcessDied, PipeBroken, ActNone},
    {PipePrefixThenLast, EvProcessDied, PipeLastPrefixQueued, ActQueueLastPrefix},
    {PipePlanRunning, EvProcessDied, PipeSettled, ActSettle},
    {PipeLevelRunning, EvProcessDied, PipeSettled, ActSettle},
    {PipeRetryRunning, EvProcessDied, PipeSettled, ActSettle},
    {PipeRegionRunning, EvProcessDied, PipeSettled, ActSettle},
    {PipeOrphaned, EvProcessDied, PipeGone, ActFreeRecord},
    {PipePrefixRunning, EvTimeLimit, PipeReceiving, ActNone},
    {PipePrefixThenPlan, EvTimeLimit, PipePlanQueued, ActQueuePlan},
    {PipePrefixBroken, EvTimeLimit, PipeBroken, ActNone},
    {PipePrefixThenLast, EvTimeLimit, PipeLastPrefixQueued, ActQueueLastPrefix},
    {PipePlanRunning, EvTimeLimit, PipeSettled, ActSettle},
    {PipeLevelRunning, EvTimeLimit, PipeSettled, ActSettle},
    {PipeRetryRunning, EvTimeLimit, PipeSettled, ActSettle},
    {PipeRegionRunning, EvTimeLimit, PipeSettled, ActSettle},
    {PipeOrphaned, EvTimeLimit, PipeGone, ActFreeRecord},

    // The view and the commands. A level or a region wanted while a job is
    // queued or runs is looked for when it ends (ActSettle); before the
    // stream ended there is no plan to want one of.
    {PipeSettled, EvLevelWanted, PipeLevelQueued, ActQueueLevel},
    {PipeSettled, EvRegionWanted, PipeRegionQueued, ActQueueRegion},
    {PipeLevelQueued, EvCommandWantsLevel, Stay, ActWantLevelFirst},
    {PipePlanQueued, EvCommandWantsLevel, Stay, ActWantLevel},
    {PipePrefixThenPlan, EvCommandWantsLevel, Stay, ActWantLevel},
    {PipePlanRunning, EvCommandWantsLevel, Stay, ActWantLevel},
    {PipeLevelRunning, EvCommandWantsLevel, Stay, ActWantLevel},
    {PipeRetryQueued, EvCommandWantsLevel, Stay, ActWantLevel},
    {PipeRetryRunning, EvCommandWantsLevel, Stay, ActWantLevel},
    {PipeRegionQueued, EvCommandWantsLevel, Stay, ActWantLevel},
    {PipeRegionRunning, EvCommandWantsLevel, Stay, ActWantLevel},
    {PipeSettled, EvCommandWantsLevel, Stay, ActWantLevel},
    {PipeGone, EvCommandDone, Stay, ActNone},
    {AnyState, EvCommandDone, Stay, ActEndCommandWait},

    // NPP_Destroy: a running job's worker frees the record when it ends;
    // otherwise the UI thread frees it now.
    {PipePrefixRunning, EvDestroy, PipeOrphaned, ActOrphan},
    {PipePrefixThenPlan, EvDestroy, PipeOrphaned, ActOrphan},
    {PipePrefixBroken, EvDestroy, PipeOrphaned, ActOrphan},
    {PipePrefixThenLast, EvDestroy, PipeOrphaned, ActOrphan},
    {PipePlanRunning, EvDestroy, PipeOrphaned, ActOrphan},
    {PipeLevelRunning, EvDestroy, PipeOrphaned, ActOrphan},
    {PipeRetryRunning, EvDestroy, PipeOrphaned, ActOrphan},
    {PipeRegionRunning, EvDestroy, PipeOrphaned, ActOrphan},
    {PipeKilledOpen, EvDestroy, PipeOrphaned, ActOrphan},
    {PipeKilledEnded, EvDestroy, PipeOrphaned, ActOrphan},
    {PipeKilledBroken, EvDestroy, PipeOrphaned, ActOrphan},
    {PipeKilledLast, EvDestroy, PipeOrphaned, ActOrphan},
    {PipePrefixQueued, EvDestroy, PipeGone, ActUnlinkFree},
    {PipeLastPrefixQueued, EvDestroy, PipeGone, ActUnlinkFree},
    {PipePlanQueued, EvDestroy, PipeGone, ActUnlinkFree},
    {PipeLevelQueued, EvDestroy, PipeGone, ActUnlinkFree},
    {PipeRetryQueued, EvDestroy, PipeGone, ActUnlinkFree},
    {PipeRegionQueued, EvDestroy, PipeGone, ActUnlinkFree},
    {PipeNoStream, EvDestroy, PipeGone, ActFreeRecord},
    {PipeReceiving, EvDestroy, PipeGone, ActFreeRecord},
    {PipeBroken, EvDestroy, PipeGone, ActFreeRecord},
    {PipeSettled, EvDestroy, PipeGone, ActFreeRecord},
};

struct JobKindRule {
    int32_t alone;      // runs only when nothing else does, and holds back the rest
    int32_t oneThread;  // one codec thread, whatever is free
};

const JobKindRule JobKinds[JobKindCount] = {
    {0, 0},  // JobCommand
    {0, 0},  // JobRegion
    {0, 0},  // JobPlan
    {0, 0},  // JobLevel
    {1, 0},  // JobRetry
    {0, 1},  // JobPrefix
};

// A job of known memory and no level to choose: it starts when it fits
// beside the running ones; alone it starts whatever it needs (its own
// decode then reports the lack of memory).
Admission AdmitBoundJob(const DecodeBudget* budget, uint64_t bytes) {
    Admission admission = {AdmissionWait, 0, 0, bytes, bytes};
    uint64_t free = budget->freeBytes > budget->committedBytes ? budget->freeBytes - budget->committedBytes : 0;
    if (budget->runningDecodes > 0 && (budget->runningDecodes >= budget->processors || bytes > free)) {
        return admission;
    }
    int left = budget->processors - budget->threadsInUse;
    admission.verdict = AdmissionStart;
    admission.threads = left > 1 ? left : 1;
    return admission;
}

Admission AdmitCandidate(const DecodeBudget* budget, const JobCandidate* head, int32_t kind) {
    DecodeBudget own = *budget;
    own.peakElsewhere = head->peakElsewhere;
    Admission admission = head->plan ? AdmitDecode(&own, head->plan, head->reduce, head->compressedBytes)
                                     : AdmitBoundJob(budget, head->boundBytes);
    if (admission.verdict == AdmissionStart && JobKinds[kind].oneThread) {
        admission.threads = 1;
    }
    if (!head->plan) {
        admission.reduce = head->reduce;
    }
    return admission;
}

}  // namespace

PipelineStep StepPipeline(int32_t state, int32_t event) {
    PipelineStep step = {state, ActNone};
    if (state < 0 || state >= PipeStateCount || event < 0 || event >= PipeEventCount) {
        return step;
    }
    for (const PipelineRow& row : Rows) {
        if (row.event == event && (row.state == state || row.state == AnyState)) {
            step.next = row.next == Stay ? state : row.next;
            step.action = row.action;
            return step;
        }
    }
    return step;
}

int32_t JobEndEvent(int32_t state, int32_t outcome, int32_t decoderEnd) {
    if (PipelineFacts(state)->killed) {
        return EvKilledJobEnded;
    }
    if (decoderEnd == DecodeFailureDecoderStopped) {
        return EvProcessDied;
    }
    if (decoderEnd == DecodeFailureTimedOut) {
        return EvTimeLimit;
    }
    for (const OutcomeEvent& row : OutcomeEvents) {
        if (row.outcome == outcome) {
            return row.event;
        }
    }
    return EvLevelDone;
}

JobChoice ChooseJob(const JobCandidate heads[JobKindCount], const RunningJobs* running, uint64_t freeBytes,
                    int32_t processors) {
    JobChoice choice = {-1, {AdmissionWait, 0, 0, 0, 0}};
    if (running->alone) {
        return choice;
    }
    DecodeBudget budget = {freeBytes, running->committedBytes, processors, running->count, running->threads, 0};
    for (int32_t kind = 0; kind < JobKindCount; ++kind) {
        if (JobKinds[kind].alone && heads[kind].present) {
            if (running->count > 0) {
                return choice;
            }
            choice.kind = kind;
            choice.admission = AdmitCandidate(&budget, &heads[kind], kind);
            return choice;
        }
    }
    for (int32_t kind = 0; kind < JobKindCount; ++kind) {
        if (heads[kind].present) {
            choice.admission = AdmitCandidate(&budget, &heads[kind], kind);
            choice.kind = choice.admission.verdict == AdmissionWait ? -1 : kind;
            return choice;
        }
    }
    return choice;
}

int32_t JobRunsAlone(int32_t kind) { return kind >= 0 && kind < JobKindCount && JobKinds[kind].alone; }

uint64_t PlanJobBytes(uint32_t compressedBytes, uint32_t sampleLimit) {
    // Four bytes a sample and up to one of bitmap, for a sixteenth of them.
    return (uint64_t)compressedBytes + (uint64_t)sampleLimit / 16 * 5;
}

uint64_t RegionJobBytes(const DecodePlan* plan, uint32_t regionWidth, uint32_t regionHeight, int32_t reduce,
                        uint32_t compressedBytes) {
    DecodePlan region = *plan;
    region.fullWidth = regionWidth;
    region.fullHeight = regionHeight;
    return PlannedDecodeBytes(&region, reduce, compressedBytes);
}
