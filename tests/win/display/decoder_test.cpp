// The decoder processes under Wine: jobs give what this process would
// decode, the bitmap used in place; each confining call's answer recorded;
// a decoder killed mid-job costs only that job; a cancel ends the decoder at
// once; without the executable, decoding stays in this process and says why.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "decode/jpeg2000.h"
#include "display_support.h"
#include "host/decode_job.h"
#include "host/decoder_pool.h"

namespace {

// A file in a received-bytes store, with a view for jobs.
struct StoredFile {
    ReceivedBytes store = {};
    BytesView view = {};
    int fileKind = FileKindInvalid;
    explicit StoredFile(const char* fixture) {
        std::vector<uint8_t> bytes = ReadFixture(fixture);
        uint32_t size = (uint32_t)bytes.size();
        if (size && OpenReceivedBytes(&store, size) && WriteReceivedBytes(&store, 0, bytes.data(), size) &&
            TakeBytesView(&view, &store, size)) {
            fileKind = ClassifyFileKind(view.data, size);
        }
    }
    ~StoredFile() {
        ReleaseBytesView(&view);
        CloseReceivedBytes(&store);
    }
    DecodeJob Job(int32_t kind, int32_t reduce) const {
        DecodeJob job = {};
        job.kind = kind;
        job.fileKind = fileKind;
        job.bytes = &view;
        job.length = view.length;
        job.reduce = reduce;
        job.previewReduce = kind == DecodeJobPlan ? 1 : 0;
        job.threads = 1;
        job.region = PictureRegion{8, 8, 40, 30};
        job.plannedBytes = 64u << 20;
        return job;
    }
};

DecoderReport AwaitDecoder() {
    StartDecoderPool();
    DecoderReport report = {};
    for (int tries = 0; tries < 200; ++tries) {
        ReadDecoderReport(&report);
        if (report.absence != DecoderNotStarted) break;
        Sleep(50);
    }
    return report;
}

uint64_t Hash(const uint8_t* block, size_t size) {
    uint64_t hash = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ block[i]) * 1099511628211ull;
    return hash;
}

// What this process decodes for the job, hashed.
uint64_t DecodeHere(const DecodeJob& job) {
    uint8_t* dib = nullptr;
    const uint8_t* data = job.bytes->data;
    int32_t length = (int32_t)job.length;
    switch (job.kind) {
    case DecodeJobPlan:
        DecodeLevelToPackedDib(&dib, nullptr, job.fileKind, data, length, job.previewReduce, 1);
        break;
    case DecodeJobRegion:
        DecodeRegionToPackedDib(&dib, nullptr, nullptr, job.fileKind, data, length, job.reduce, job.region, 1);
        break;
    default:
        DecodeLevelToPackedDib(&dib, nullptr, job.fileKind, data, length, job.reduce, 1);
    }
    uint64_t hash = dib ? Hash(dib, (size_t)PackedDibSize(dib)) : 0;
    free(dib);
    return hash;
}

// A long decode run on a thread of its own; the job's result once joined.
struct LongJob {
    StoredFile file{"gallery4000.j2k"};
    DecodeJob job = file.Job(DecodeJobLevel, 0);
    DecodeJobResult result = {};
    DecodeJobCancel cancel = {};
    int ran = 0;
    std::thread thread;
    explicit LongJob(uint32_t timeLimitMs = 0) {
        job.timeLimitMs = timeLimitMs;
        thread = std::thread([this] { ran = RunJobInDecoder(&job, &result, &cancel); });
        // The decoder is busy once the job's decoder is set.
        for (int tries = 0; tries < 200 && !__atomic_load_n(&cancel.decoder, __ATOMIC_ACQUIRE); ++tries) Sleep(10);
        Sleep(200);
    }
    void Join() {
        thread.join();
        FreePictureBlock(result.dib);
    }
};

std::vector<HANDLE> OpenDecoders() {
    DWORD ids[32];
    std::vector<HANDLE> processes;
    int count = ListDecoderProcesses(ids, 32);
    for (int i = 0; i < count; ++i) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, ids[i]);
        if (process) processes.push_back(process);
    }
    return processes;
}

TEST(DecoderProcess, ConfinedAsEachCallAnswered) {
    DecoderReport report = AwaitDecoder();
    ASSERT_EQ(DecoderPresent, report.absence);
    EXPECT_EQ((int)sizeof(void*) * 8, report.bits);
    // Wine accepts each of these calls (without enforcing most); on Windows
    // they hold. The decoder's mitigations depend on the system: not checked.
    const struct {
        uint32_t bit;
        const char* what;
    } Expected[] = {
        {ConfinedRestrictedToken, "restricted token"}, {ConfinedLowIntegrity, "low integrity"},
        {ConfinedJobKillOnClose, "kill on close"},     {ConfinedJobOneProcess, "one process"},
        {ConfinedJobMemoryLimit, "memory limit"},      {ConfinedJobUiLimits, "UI limits"},
        {ConfinedHandleList, "handle list"},           {ConfinedInJob, "in the job"},
    };
    for (const auto& expected : Expected) {
        EXPECT_TRUE(report.confinement & expected.bit) << expected.what;
    }
    // From outside, as any observer sees it: each decoder is in a job.
    for (HANDLE process : OpenDecoders()) {
        BOOL inJob = FALSE;
        EXPECT_TRUE(IsProcessInJob(process, NULL, &inJob)) << GetLastError();
        EXPECT_TRUE(inJob);
        EXPECT_EQ((DWORD)BELOW_NORMAL_PRIORITY_CLASS, GetPriorityClass(process));
        CloseHandle(process);
    }
    wchar_t line[512];
    DescribeDecoderPlace(line, 512);
    EXPECT_NE(nullptr, wcsstr(line, L"separate ")) << line;
    EXPECT_NE(nullptr, wcsstr(line, L"job: kill on close, 1 process")) << line;
}

TEST(DecoderProcess, JobsGiveWhatThisProcessDecodes) {
    ASSERT_EQ(DecoderPresent, AwaitDecoder().absence);
    StoredFile file("quad.jp2");
    ASSERT_NE(FileKindInvalid, file.fileKind);
    for (int32_t kind : {DecodeJobPlan, DecodeJobLevel, DecodeJobRegion, DecodeJobComments}) {
        SCOPED_TRACE(kind);
        DecodeJob job = file.Job(kind, 1);
        DecodeJobResult result = {};
        DecodeJobCancel cancel = {};
        ASSERT_TRUE(RunJobInDecoder(&job, &result, &cancel));
        EXPECT_EQ(DecodeFailureNone, result.failure);
        if (kind == DecodeJobComments) {
            ASSERT_NE(nullptr, result.comments);
            EXPECT_EQ(strlen((const char*)result.comments), result.commentsLength);
            free(result.comments);
            continue;
        }
        ASSERT_NE(nullptr, result.dib);
        EXPECT_EQ(DecodeHere(job), Hash(result.dib, (size_t)PackedDibSize(result.dib)));
        // The bitmap is the decoder's section mapped here, not a copy.
        MEMORY_BASIC_INFORMATION region = {};
        VirtualQuery(result.dib, &region, sizeof region);
        EXPECT_EQ((DWORD)MEM_MAPPED, region.Type);
        if (kind == DecodeJobPlan) {
            EXPECT_EQ(64u, result.plan.fullWidth);
        }
        FreePictureBlock(result.dib);
    }
}

void KillDecoders() {
    for (HANDLE process : OpenDecoders()) {
        TerminateProcess(process, 9);
        CloseHandle(process);
    }
}

// A decoder ended during a job, from outside or at the job's time limit,
// costs only that job, with the reason its element shows; a fresh decoder
// takes the next job.
TEST(DecoderProcess, StoppedDecoderCostsOnlyItsJob) {
    const struct {
        const char* how;
        uint32_t timeLimitMs;
        bool killed;
        int32_t failure;
        const char* text;
    } Rows[] = {
        {"killed", 0, true, DecodeFailureDecoderStopped, "the decoder stopped on this file"},
        {"past its time limit", 300, false, DecodeFailureTimedOut, "decoding took too long and was stopped"},
    };
    for (const auto& row : Rows) {
        SCOPED_TRACE(row.how);
        DecoderReport before = AwaitDecoder();
        ASSERT_EQ(DecoderPresent, before.absence);
        std::vector<HANDLE> decoders = OpenDecoders();
        LongJob running(row.timeLimitMs);
        if (row.killed) KillDecoders();
        running.Join();
        EXPECT_TRUE(running.ran);
        EXPECT_EQ(row.failure, running.result.failure);
        EXPECT_STREQ(row.text, DescribeDecodeFailure(running.result.failure, 0));
        // The decoder that ran the job is gone, whoever ended it.
        int ended = 0;
        for (HANDLE process : decoders) {
            ended += WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
            CloseHandle(process);
        }
        EXPECT_GE(ended, 1);
        StoredFile small("quad.jp2");
        DecodeJob job = small.Job(DecodeJobLevel, 0);
        DecodeJobResult result = {};
        DecodeJobCancel cancel = {};
        ASSERT_TRUE(RunJobInDecoder(&job, &result, &cancel));
        EXPECT_EQ(DecodeFailureNone, result.failure);
        FreePictureBlock(result.dib);
        DecoderReport after = {};
        ReadDecoderReport(&after);
        EXPECT_GT(after.stopped, before.stopped);
    }
}

// The element whose job a decoder's end costs shows why, and stays usable:
// its decoder died just before the job (killed once it was ready), so the
// job, not the timing, meets the dead process.
TEST(DecoderProcess, ElementShowsWhyItsDecoderStoppedAndDecodesTheNextFile) {
    ASSERT_EQ(DecoderPresent, AwaitDecoder().absence);
    KillDecoders();
    Element element;
    CreateElement(&element, 160, 60, NP_EMBED, {});
    SendFile(&element, "quad.j2k");
    ASSERT_TRUE(WaitForDecode(&element));
    PluginInstance* record = RecordOf(&element);
    EXPECT_EQ(DecodeFailureDecoderStopped, record->picture.failureReason);
    EXPECT_EQ(RenderStatusBox(160, 60, ErrorText, L"the decoder stopped on this file").pixels,
              CaptureWindow(element.window).pixels);
    SendFile(&element, "quad.j2k");
    ASSERT_TRUE(WaitForDecode(&element));
    EXPECT_EQ(0, record->picture.failureReason);
    EXPECT_EQ(0xFF0000u, CaptureWindow(element.window).At(1, 1));
    DestroyElement(&element);
}

TEST(DecoderProcess, CancelEndsTheDecoderAtOnce) {
    ASSERT_EQ(DecoderPresent, AwaitDecoder().absence);
    std::vector<HANDLE> decoders = OpenDecoders();
    LongJob running;
    std::vector<HANDLE> during = OpenDecoders();
    CancelDecodeJob(&running.cancel);
    running.Join();
    EXPECT_EQ(DecodeFailureCancelled, running.result.failure);
    int ended = 0;
    for (HANDLE process : during) {
        ended += WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        CloseHandle(process);
    }
    for (HANDLE process : decoders) CloseHandle(process);
    EXPECT_EQ(1, ended);
}

// A new stream while a long decode of the last file runs in a decoder: that
// decoder ends at once, the stream is taken, and only the new file's
// picture, or its own failure, is shown (nothing of the killed job). Run
// again without the decoder (by FallsBackWhenTheExecutableIsMissing), the
// job runs here and can only be abandoned: it ends on its own, reading the
// last file's bytes, and still nothing of it is shown.
TEST(DecoderProcess, ANewStreamKillsTheRunningDecodeAndIsTaken) {
    bool here = GetEnvironmentVariableW(L"NPKAVREL_DECODER_ABSENT", nullptr, 0) != 0;
    const struct {
        const char* what;
        NPReason reason;
        int32_t failureReason;
        bool destroyed;  // right after the new stream opened
    } Rows[] = {
        {"the new stream ends", NPRES_DONE, 0, false},
        {"the new stream breaks", NPRES_NETWORK_ERR, FailureInterrupted, false},
        {"the element goes", NPRES_DONE, 0, true},
    };
    ASSERT_EQ(here ? DecoderMissing : DecoderPresent, AwaitDecoder().absence);
    std::vector<uint8_t> quad = ReadFixture("quad.j2k");
    for (const auto& row : Rows) {
        SCOPED_TRACE(row.what);
        Element element;
        CreateElement(&element, 4000, 4000, NP_EMBED, {});
        SendFile(&element, "gallery4000.j2k");
        PluginInstance* record = RecordOf(&element);
        // Until the full level's job runs (in a decoder, when there is one).
        auto started = [record, here] {
            DecodeJobCancel* cancel = LoadAcquire(&record->queue.cancel);
            return LoadAcquire(&record->queue.state) == PipeLevelRunning && cancel &&
                   (here || __atomic_load_n(&cancel->decoder, __ATOMIC_ACQUIRE));
        };
        for (int tries = 0; tries < 2000 && !started(); ++tries) Sleep(5);
        ASSERT_TRUE(started());
        std::vector<HANDLE> decoders = OpenDecoders();
        if (row.destroyed) {
            NPStream next = {};
            uint16_t type = 0;
            char mime[] = "image/jp2";
            EXPECT_EQ(NPERR_NO_ERROR, NPP_NewStream(&element.npp, mime, &next, 0, &type));
            EXPECT_EQ(NPERR_NO_ERROR, NPP_Destroy(&element.npp, NULL));
        } else {
            SendStream(&element.npp, quad, StreamPlan{16384, 1, {}, row.reason});
        }
        if (!here) {
            EXPECT_NE(WAIT_TIMEOUT, WaitForMultipleObjects((DWORD)decoders.size(), decoders.data(), FALSE, 5000));
        }
        int ended = 0;
        for (HANDLE process : decoders) {
            ended += WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
            CloseHandle(process);
        }
        EXPECT_EQ(here ? 0 : 1, ended);
        if (row.destroyed) {
            // The worker frees the record once the job is over; nothing
            // of it is touched meanwhile.
            for (int i = 0; i < 100; ++i) {
                PumpMessages();
                Sleep(20);
            }
            DestroyElement(&element);
            continue;
        }
        ASSERT_TRUE(WaitForDecode(&element, 60000));
        EXPECT_EQ(row.failureReason, record->picture.failureReason);
        if (row.reason == NPRES_DONE) {
            ASSERT_NE(nullptr, record->picture.dib);
            EXPECT_EQ(64, record->picture.dibHeader->biWidth);
            SetWindowPos(element.window, NULL, 0, 0, 160, 120, SWP_NOMOVE | SWP_NOZORDER);
            EXPECT_EQ(0xFF0000u, RepaintAndCapture(element.window).At(1, 1));
        } else {
            EXPECT_EQ(nullptr, record->picture.dib);
        }
        DestroyElement(&element);
    }
}

// Run in a copy of this program in a folder without the decoder (the
// test below starts it there): decoding stays here, and says why.
TEST(DecoderProcess, WithoutTheExecutableDecodesHere) {
    if (!GetEnvironmentVariableW(L"NPKAVREL_DECODER_ABSENT", nullptr, 0)) {
        GTEST_SKIP() << "run by FallsBackWhenTheExecutableIsMissing";
    }
    EXPECT_EQ(DecoderMissing, AwaitDecoder().absence);
    StoredFile file("quad.jp2");
    DecodeJob job = file.Job(DecodeJobLevel, 0);
    DecodeJobResult result = {};
    DecodeJobCancel cancel = {};
    EXPECT_FALSE(RunJobInDecoder(&job, &result, &cancel));
    ASSERT_TRUE(RunDecodeJob(&job, &result, &cancel));
    EXPECT_EQ(DecodeHere(job), Hash(result.dib, (size_t)PackedDibSize(result.dib)));
    FreePictureBlock(result.dib);
    wchar_t line[512];
    DescribeDecoderPlace(line, 512);
    EXPECT_NE(nullptr, wcsstr(line, L"in the browser's process (npkavrel-decoder.exe is not beside")) << line;
}

TEST(DecoderProcess, FallsBackWhenTheExecutableIsMissing) {
    if (GetEnvironmentVariableW(L"NPKAVREL_DECODER_ABSENT", nullptr, 0)) GTEST_SKIP();
    wchar_t self[MAX_PATH];
    wchar_t folder[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    GetTempPathW(MAX_PATH, folder);
    std::wstring copy = std::wstring(folder) + L"decoder_absent_test.exe";
    ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));
    SetEnvironmentVariableW(L"NPKAVREL_DECODER_ABSENT", L"1");
    std::wstring line = L"\"" + copy + L"\" --gtest_filter=DecoderProcess.WithoutTheExecutableDecodesHere:"
                        L"DecoderProcess.ANewStreamKillsTheRunningDecodeAndIsTaken";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    ASSERT_TRUE(CreateProcessW(copy.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started));
    SetEnvironmentVariableW(L"NPKAVREL_DECODER_ABSENT", nullptr);
    DWORD code = 1;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started.hProcess, 120000));
    GetExitCodeProcess(started.hProcess, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    DeleteFileW(copy.c_str());
}

}  // namespace
