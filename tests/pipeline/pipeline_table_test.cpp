// The decode pipeline's table: every (state, event) pair checked against
// the hand-over rules and against the architecture page's table, the rows
// that matter walked as the element lives them, and which job a free worker
// takes.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/pipeline_table.h"

namespace {

const int32_t EndEvents[] = {EvPrefixDone,  EvPlanDone,   EvLevelDone,   EvLevelFailedMemory, EvLevelFailed,
                             EvRegionDone, EvProcessDied, EvTimeLimit, EvKilledJobEnded};

bool IsEndEvent(int32_t event) {
    for (int32_t end : EndEvents) {
        if (end == event) {
            return true;
        }
    }
    return false;
}

// The outcome a job of each kind has when its decode fails.
int32_t FailedOutcomeOf(int32_t jobKind) {
    switch (jobKind) {
    case JobPrefix:
        return OutcomeNoPartial;
    case JobRegion:
        return OutcomeRegion;
    default:
        return OutcomeFailed;
    }
}

// The kind of job each queuing action puts in a list.
int32_t QueuedKindOf(int32_t action) {
    switch (action) {
    case ActQueuePrefix:
    case ActQueueLastPrefix:
        return JobPrefix;
    case ActQueuePlan:
    case ActDropPrefixPlan:
        return JobPlan;
    case ActQueueLevel:
        return JobLevel;
    case ActQueueRetry:
        return JobRetry;
    case ActQueueRegion:
        return JobRegion;
    default:
        return -1;
    }
}

// Every pair, against rules stated from the states' facts rather than from
// the rows: who frees the record, who may store or read the bytes, that a
// job starts only when a worker takes it and ends only by its end event,
// and that a record never has two jobs.
TEST(PipelineTable, EveryPairKeepsTheHandOverRules) {
    for (int32_t state = 0; state < PipeStateCount; ++state) {
        const PipelineStateFacts& from = *PipelineFacts(state);
        EXPECT_FALSE(from.queued && from.running) << state;
        for (int32_t event = 0; event < PipeEventCount; ++event) {
            SCOPED_TRACE(testing::Message() << "state " << state << " event " << event);
            PipelineStep step = StepPipeline(state, event);
            ASSERT_TRUE(step.next >= 0 && step.next < PipeStateCount);
            ASSERT_TRUE(step.action >= 0 && step.action < PipeActionCount);
            const PipelineStateFacts& to = *PipelineFacts(step.next);
            bool alive = state != PipeOrphaned && state != PipeGone;
            if (state == PipeGone) {
                EXPECT_EQ(PipeGone, step.next);
                EXPECT_TRUE(step.action == ActNone || step.action == ActRefuse);
            }
            if (event == EvDestroy && alive) {
                int32_t next = from.running ? PipeOrphaned : PipeGone;
                int32_t action = from.running ? ActOrphan : from.queued ? ActUnlinkFree : ActFreeRecord;
                EXPECT_EQ(next, step.next);
                EXPECT_EQ(action, step.action);
            } else if (event == EvDestroy) {
                EXPECT_EQ(state, step.next);
                EXPECT_EQ(ActNone, step.action);
            }
            // Only a destroy leaves the record to a worker; it is freed only
            // by a destroy or, once orphaned, by its job's end.
            EXPECT_EQ(step.next == PipeOrphaned && state != PipeOrphaned, step.action == ActOrphan);
            bool freed = step.action == ActFreeRecord || step.action == ActUnlinkFree;
            EXPECT_EQ(freed, step.next == PipeGone && state != PipeGone);
            if (state == PipeOrphaned && step.next == PipeGone) {
                EXPECT_TRUE(IsEndEvent(event));
            }
            // A new stream is always taken: a queued job is dropped, a
            // running one killed (once).
            if (event == EvNewStream) {
                int32_t action = from.queued ? ActDropQueuedOpen
                                 : from.running && !from.killed ? ActKillOpen
                                                                : ActOpenStream;
                EXPECT_EQ(alive ? (from.running ? PipeKilledOpen : PipeReceiving) : state, step.next);
                EXPECT_EQ(alive ? action : ActRefuse, step.action);
            }
            // A killed job stays killed until it ends, and only its end
            // (one event, whatever it found) lets a job of the record start.
            EXPECT_EQ(to.killed && !from.killed, step.action == ActKillOpen);
            if (from.killed && !to.killed && step.next != PipeOrphaned) {
                EXPECT_EQ(EvKilledJobEnded, event);
            }
            for (int32_t outcome = OutcomeDone; outcome <= OutcomeFailed && from.killed; ++outcome) {
                EXPECT_EQ(EvKilledJobEnded, JobEndEvent(state, outcome, DecodeFailureDecoderStopped));
            }
            if (event == EvBytesArrived) {
                EXPECT_EQ(state, step.next);
                EXPECT_EQ(from.streamOpen ? ActStoreBytes : ActRefuse, step.action);
            }
            // A job starts only when a worker takes it, and keeps its kind.
            if (to.running && !from.running) {
                EXPECT_EQ(EvJobTaken, event);
                EXPECT_EQ(ActStartJob, step.action);
                EXPECT_TRUE(from.queued);
                EXPECT_EQ(from.jobKind, to.jobKind);
            }
            if (from.running && to.running && step.next != PipeOrphaned && state != PipeOrphaned && !to.killed) {
                EXPECT_EQ(from.jobKind, to.jobKind);
            }
            // A running job ends only by its end event (or a destroy); an
            // end event without a running job changes nothing.
            if (from.running && !to.running) {
                EXPECT_TRUE(IsEndEvent(event));
            }
            if (IsEndEvent(event) && !from.running) {
                EXPECT_EQ(state, step.next);
                EXPECT_EQ(ActNone, step.action);
            }
            // A queued job leaves its list only when a worker takes it,
            // none could be started, or a destroy or a new stream drops it.
            if (from.queued && !to.queued) {
                EXPECT_TRUE(event == EvJobTaken || event == EvJobDropped || event == EvDestroy ||
                            event == EvNewStream);
            }
            // A job is queued only by a queuing action, of its own kind.
            if (to.queued && !from.queued) {
                EXPECT_EQ(to.jobKind, QueuedKindOf(step.action));
            }
            if (QueuedKindOf(step.action) >= 0) {
                EXPECT_TRUE(to.queued);
                EXPECT_EQ(QueuedKindOf(step.action), to.jobKind);
            }
            // Without this stream's plan no level nor region is queued.
            if ((event == EvLevelWanted || event == EvRegionWanted) && !from.planned) {
                EXPECT_EQ(state, step.next);
                EXPECT_EQ(ActNone, step.action);
            }
            // The bytes are the UI thread's only while the stream is open.
            if (to.streamOpen && !from.streamOpen) {
                EXPECT_EQ(EvNewStream, event);
            }
            // A decoder's report changes nothing by itself; its death or a
            // time limit ends the job as a failure.
            if (event == EvJobSent || event == EvPictureBack) {
                EXPECT_EQ(state, step.next);
                EXPECT_EQ(ActNone, step.action);
            }
            if ((event == EvProcessDied || event == EvTimeLimit) && !from.killed) {
                EXPECT_EQ(event, JobEndEvent(state, FailedOutcomeOf(from.jobKind),
                                             event == EvProcessDied ? DecodeFailureDecoderStopped
                                                                    : DecodeFailureTimedOut));
                int32_t failed = from.running && state != PipeOrphaned
                                     ? JobEndEvent(state, FailedOutcomeOf(from.jobKind), DecodeFailureCorrupt)
                                     : EvLevelFailed;
                PipelineStep asFailure = StepPipeline(state, failed);
                EXPECT_EQ(asFailure.next, step.next);
                EXPECT_EQ(asFailure.action, step.action);
            }
        }
    }
}

// Every state can be reached from a new element, and every one can still
// end with the record freed.
TEST(PipelineTable, EveryStateIsReachedAndCanEnd) {
    std::set<int32_t> seen = {PipeNoStream};
    std::vector<int32_t> work = {PipeNoStream};
    while (!work.empty()) {
        int32_t state = work.back();
        work.pop_back();
        for (int32_t event = 0; event < PipeEventCount; ++event) {
            if (seen.insert(StepPipeline(state, event).next).second) {
                work.push_back(StepPipeline(state, event).next);
            }
        }
    }
    EXPECT_EQ((size_t)PipeStateCount, seen.size());
    for (int32_t state = 0; state < PipeStateCount; ++state) {
        PipelineStep step = StepPipeline(state, EvDestroy);
        if (step.next == PipeOrphaned) {
            step = StepPipeline(step.next,
                                JobEndEvent(step.next, FailedOutcomeOf(PipelineFacts(state)->jobKind), 0));
        }
        EXPECT_EQ(PipeGone, step.next) << state;
    }
}

struct Walk {
    int32_t event;
    int32_t next;
    int32_t action;
};

void ExpectWalk(int32_t state, const std::vector<Walk>& walk) {
    for (size_t i = 0; i < walk.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "step " << i << " from state " << state);
        PipelineStep step = StepPipeline(state, walk[i].event);
        EXPECT_EQ(walk[i].next, step.next);
        EXPECT_EQ(walk[i].action, step.action);
        state = step.next;
    }
}

// The rows that matter, as an element lives them.
TEST(PipelineTable, RowsThatMatter) {
    // A retry belongs to its level: once failed, a later level gets its own.
    ExpectWalk(PipeLevelRunning, {
                                     {EvLevelFailedMemory, PipeRetryQueued, ActQueueRetry},
                                     {EvJobTaken, PipeRetryRunning, ActStartJob},
                                     {EvLevelFailedMemory, PipeSettled, ActSettle},
                                     {EvLevelWanted, PipeLevelQueued, ActQueueLevel},
                                     {EvJobTaken, PipeLevelRunning, ActStartJob},
                                     {EvLevelFailedMemory, PipeRetryQueued, ActQueueRetry},
                                 });
    // A second stream: while its prefix job waits or runs, the view's level,
    // a region and a command want nothing queued, so no level job takes the
    // prefix job's place and the stream's bytes keep coming.
    ExpectWalk(PipeSettled, {
                                {EvNewStream, PipeReceiving, ActOpenStream},
                                {EvPrefixDue, PipePrefixQueued, ActQueuePrefix},
                                {EvLevelWanted, PipePrefixQueued, ActNone},
                                {EvJobTaken, PipePrefixRunning, ActStartJob},
                                {EvLevelWanted, PipePrefixRunning, ActNone},
                                {EvRegionWanted, PipePrefixRunning, ActNone},
                                {EvCommandWantsLevel, PipePrefixRunning, ActNone},
                                {EvBytesArrived, PipePrefixRunning, ActStoreBytes},
                                {EvPrefixDone, PipeReceiving, ActNone},
                                {EvStreamEnded, PipePlanQueued, ActQueuePlan},
                                {EvJobTaken, PipePlanRunning, ActStartJob},
                                {EvPlanDone, PipeLevelQueued, ActQueueLevel},
                                {EvCommandWantsLevel, PipeLevelQueued, ActWantLevelFirst},
                            });
    // The stream ends while a prefix job runs: the plan follows it.
    ExpectWalk(PipePrefixRunning, {
                                      {EvStreamEnded, PipePrefixThenPlan, ActNone},
                                      {EvBytesArrived, PipePrefixThenPlan, ActRefuse},
                                      {EvPrefixDone, PipePlanQueued, ActQueuePlan},
                                  });
    // A new stream while a job runs: what its stream does meanwhile is
    // what follows the killed job's end.
    struct Killed {
        const char* what;
        std::vector<int32_t> events;
        int32_t next;
        int32_t action;
    } killedCases[] = {
        {"open", {EvBytesArrived}, PipeReceiving, ActNone},
        {"ended", {EvStreamEnded}, PipePlanQueued, ActQueuePlan},
        {"broken", {EvStreamBroken}, PipeBroken, ActNone},
        {"broken, a last prefix", {EvStreamBroken, EvPrefixDue}, PipeLastPrefixQueued, ActQueueLastPrefix},
        {"ended, then another stream", {EvStreamEnded, EvNewStream}, PipeReceiving, ActNone},
    };
    for (const Killed& c : killedCases) {
        SCOPED_TRACE(c.what);
        int32_t state = StepPipeline(PipePlanRunning, EvNewStream).next;
        for (int32_t event : c.events) {
            state = StepPipeline(state, event).next;
        }
        PipelineStep end = StepPipeline(state, JobEndEvent(state, OutcomeLevel, DecodeFailureNone));
        EXPECT_EQ(c.next, end.next);
        EXPECT_EQ(c.action, end.action);
    }
    // Broken while a prefix job runs: one last of all that arrived follows,
    // and its picture stays.
    ExpectWalk(PipePrefixRunning, {
                                      {EvStreamBroken, PipePrefixBroken, ActNone},
                                      {EvPrefixDue, PipePrefixThenLast, ActNoteLastPrefix},
                                      {EvPrefixDone, PipeLastPrefixQueued, ActQueueLastPrefix},
                                      {EvJobTaken, PipePrefixBroken, ActStartJob},
                                      {EvPrefixDone, PipeBroken, ActNone},
                                      {EvPrefixDue, PipeLastPrefixQueued, ActQueuePrefix},
                                      {EvPrefixDue, PipeLastPrefixQueued, ActExtendPrefix},
                                  });
    // Destroyed during a job: the worker frees the record when it ends.
    ExpectWalk(PipeRegionRunning, {
                                      {EvDestroy, PipeOrphaned, ActOrphan},
                                      {EvLevelWanted, PipeOrphaned, ActNone},
                                      {EvRegionDone, PipeGone, ActFreeRecord},
                                  });
}

// The names the architecture page gives the table's states, events and
// actions, in their enums' order.
const char* const StateNames[] = {
    "PipeNoStream", "PipeReceiving", "PipePrefixQueued", "PipePrefixRunning", "PipePrefixThenPlan",
    "PipePrefixBroken", "PipePrefixThenLast", "PipeLastPrefixQueued", "PipeBroken", "PipePlanQueued",
    "PipePlanRunning", "PipeLevelQueued", "PipeLevelRunning", "PipeRetryQueued", "PipeRetryRunning",
    "PipeRegionQueued", "PipeRegionRunning", "PipeSettled", "PipeKilledOpen", "PipeKilledEnded", "PipeKilledBroken",
    "PipeKilledLast", "PipeOrphaned", "PipeGone",
};
const char* const EventNames[] = {
    "EvNewStream", "EvBytesArrived", "EvPrefixDue", "EvStreamEnded", "EvStreamBroken", "EvJobTaken", "EvJobDropped",
    "EvPrefixDone", "EvPlanDone", "EvLevelWanted", "EvRegionWanted", "EvLevelDone", "EvLevelFailedMemory",
    "EvLevelFailed", "EvRegionDone", "EvCommandWantsLevel", "EvCommandDone", "EvDestroy", "EvJobSent",
    "EvPictureBack", "EvProcessDied", "EvTimeLimit", "EvKilledJobEnded",
};
const char* const ActionNames[] = {
    "ActNone", "ActRefuse", "ActOpenStream", "ActDropQueuedOpen", "ActKillOpen", "ActStoreBytes", "ActQueuePrefix",
    "ActExtendPrefix", "ActNoteLastPrefix", "ActQueueLastPrefix", "ActQueuePlan", "ActDropPrefixPlan", "ActStartJob",
    "ActUnlinkJob", "ActQueueLevel", "ActQueueRetry", "ActQueueRegion", "ActWantLevel", "ActWantLevelFirst",
    "ActEndCommandWait", "ActSettle", "ActOrphan", "ActUnlinkFree", "ActFreeRecord",
};
static_assert(sizeof StateNames / sizeof *StateNames == PipeStateCount, "a state without a name");
static_assert(sizeof EventNames / sizeof *EventNames == PipeEventCount, "an event without a name");
static_assert(sizeof ActionNames / sizeof *ActionNames == PipeActionCount, "an action without a name");

int32_t IndexOfName(const char* const* names, int32_t count, const std::string& name) {
    for (int32_t i = 0; i < count; ++i) {
        if (name == names[i]) {
            return i;
        }
    }
    ADD_FAILURE() << "the page names " << name << ", which the code does not";
    return 0;
}

// docs/architecture.md's table, row by row (event | in states | next | action,
// names in backquotes; "any other" states, "the same" next), is the code's:
// each pair the page lists steps as it says, and every other one keeps its
// state and does nothing.
TEST(PipelineTable, TheArchitecturePageShowsThisTable) {
    std::ifstream page(ARCHITECTURE_PAGE);
    ASSERT_TRUE(page.good()) << ARCHITECTURE_PAGE;
    std::map<std::pair<int32_t, int32_t>, PipelineStep> listed;
    std::map<int32_t, PipelineStep> anyOther;  // next = -1: the same
    std::string line;
    while (std::getline(page, line)) {
        if (line.compare(0, 4, "| `E") != 0) {
            continue;
        }
        std::vector<std::string> cells;
        for (size_t start = 1, end; (end = line.find('|', start)) != std::string::npos; start = end + 1) {
            cells.push_back(line.substr(start, end - start));
        }
        ASSERT_EQ(4u, cells.size()) << line;
        std::vector<std::vector<std::string>> names(4);
        for (size_t i = 0; i < 4; ++i) {
            for (size_t open = 0, close; (open = cells[i].find('`', open)) != std::string::npos; open = close + 1) {
                close = cells[i].find('`', open + 1);
                ASSERT_NE(std::string::npos, close) << line;
                names[i].push_back(cells[i].substr(open + 1, close - open - 1));
            }
        }
        ASSERT_EQ(1u, names[0].size()) << line;
        ASSERT_EQ(1u, names[3].size()) << line;
        int32_t event = IndexOfName(EventNames, PipeEventCount, names[0][0]);
        PipelineStep step = {names[2].empty() ? -1 : IndexOfName(StateNames, PipeStateCount, names[2][0]),
                             IndexOfName(ActionNames, PipeActionCount, names[3][0])};
        if (names[1].empty()) {
            EXPECT_TRUE(anyOther.emplace(event, step).second) << line;
        }
        for (const std::string& state : names[1]) {
            EXPECT_TRUE(listed.emplace(std::make_pair(IndexOfName(StateNames, PipeStateCount, state), event), step).second)
                << line;
        }
    }
    ASSERT_FALSE(listed.empty());
    for (int32_t state = 0; state < PipeStateCount; ++state) {
        for (int32_t event = 0; event < PipeEventCount; ++event) {
            PipelineStep paged = {state, ActNone};
            auto row = listed.find(std::make_pair(state, event));
            if (row != listed.end() || anyOther.count(event)) {
                paged = row != listed.end() ? row->second : anyOther[event];
                paged.next = paged.next < 0 ? state : paged.next;
            }
            PipelineStep coded = StepPipeline(state, event);
            EXPECT_EQ(paged.next, coded.next) << StateNames[state] << " " << EventNames[event];
            EXPECT_EQ(paged.action, coded.action) << StateNames[state] << " " << EventNames[event];
        }
    }
}

// 4000 x 4000 RGB: 240 MB at full size, 60 MB at 1/2 (samples x 4 + bitmap).
const DecodePlan Plan = {4000, 4000, 4000, 4000, 0, 2, 5, 3, 24};
const uint64_t MB = 1000000;

TEST(ChooseJob, EveryJobIsAdmittedAloneRunsAloneAndUsesItsThreads) {
    struct Case {
        const char* what;
        int32_t present[JobKindCount];  // command, region, plan, level, retry, prefix
        RunningJobs running;
        uint64_t freeBytes;
        int32_t kind;
        int32_t threads;
        uint64_t bytes;
        int32_t elsewhere = 0;  // every head's codec runs in a wider decoder
        uint64_t charged = 0;
    } cases[] = {
        {"a retry waits for the running job and holds back the rest", {0, 0, 1, 1, 1, 0}, {1, 1, 60 * MB, 0},
         4000 * MB, -1, 0, 0},
        {"alone, a retry is charged its level", {0, 0, 1, 1, 1, 0}, {0, 0, 0, 0}, 4000 * MB, JobRetry, 4,
         PlannedDecodeBytes(&Plan, 1, 0)},
        {"nothing starts beside a running retry", {1, 1, 1, 1, 0, 1}, {1, 4, 60 * MB, 1}, 4000 * MB, -1, 0, 0},
        {"a plan job waits for memory", {0, 0, 1, 0, 0, 0}, {1, 1, 200 * MB, 0}, 220 * MB, -1, 0, 0},
        {"alone, a plan job starts whatever it needs", {0, 0, 1, 0, 0, 0}, {0, 0, 0, 0}, 1 * MB, JobPlan, 4,
         PlanJobBytes(0, 1u << 27)},
        {"a region job waits for memory", {0, 1, 0, 0, 0, 0}, {1, 1, 240 * MB, 0}, 250 * MB, -1, 0, 0},
        {"a region job gets the threads left", {0, 1, 0, 0, 0, 0}, {1, 3, 60 * MB, 0}, 4000 * MB, JobRegion, 1,
         RegionJobBytes(&Plan, 1000, 1000, 0, 0)},
        {"a prefix job waits for memory", {0, 0, 0, 0, 0, 1}, {1, 1, 200 * MB, 0}, 250 * MB, -1, 0, 0},
        {"a prefix job runs on one thread", {0, 0, 0, 0, 0, 1}, {0, 0, 0, 0}, 4000 * MB, JobPrefix, 1,
         PlannedDecodeBytes(&Plan, 1, 0)},
        {"the command goes first", {1, 1, 1, 1, 0, 1}, {0, 0, 0, 0}, 4000 * MB, JobCommand, 4,
         PlannedDecodeBytes(&Plan, 1, 0)},
        {"a level a wider decoder runs is charged its bitmap beside a running job", {0, 0, 0, 1, 0, 0},
         {1, 1, 200 * MB, 0}, 250 * MB, JobLevel, 3, PlannedDecodeBytes(&Plan, 1, 0), 1, 12 * MB},
        {"a region job is charged its bound wherever it runs", {0, 1, 0, 0, 0, 0}, {1, 3, 60 * MB, 0}, 4000 * MB,
         JobRegion, 1, RegionJobBytes(&Plan, 1000, 1000, 0, 0), 1, RegionJobBytes(&Plan, 1000, 1000, 0, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        JobCandidate heads[JobKindCount] = {};
        for (int32_t kind = 0; kind < JobKindCount; ++kind) {
            heads[kind] = {c.present[kind], &Plan, 1, 0, 0, c.elsewhere};
        }
        heads[JobPlan].plan = NULL;
        heads[JobPlan].boundBytes = PlanJobBytes(0, 1u << 27);
        heads[JobRegion].plan = NULL;
        heads[JobRegion].boundBytes = RegionJobBytes(&Plan, 1000, 1000, 0, 0);
        JobChoice choice = ChooseJob(heads, &c.running, c.freeBytes, 4);
        EXPECT_EQ(c.kind, choice.kind);
        if (c.kind >= 0) {
            EXPECT_EQ(AdmissionStart, choice.admission.verdict);
            EXPECT_EQ(c.threads, choice.admission.threads);
            EXPECT_EQ(c.bytes, choice.admission.plannedBytes);
            EXPECT_EQ(c.elsewhere ? c.charged : c.bytes, choice.admission.chargedBytes);
        }
    }
}

}  // namespace
