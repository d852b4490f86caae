// The decoder process's job protocol without processes: a decoder serving
// each kind of job from a page and blocks of its own allocator, the plug-in
// reading the reply; requests and replies that are short, stale or garbage
// are refused, and so is a block whose header disagrees with its reply.
#include "decoder/job_protocol.h"
#include "dib_check.h"
#include "fixture_encoder.h"

#include <gtest/gtest.h>

#include <set>
#include <string.h>
#include <vector>

namespace {

// The decoder's place for bitmaps: every block it hands over must come from here.
std::set<uint8_t*> PlacedBlocks;

uint8_t* PlaceBlock(uint32_t size) {
    uint8_t* block = (uint8_t*)malloc(size);
    PlacedBlocks.insert(block);
    return block;
}

void UnplaceBlock(uint8_t* block) {
    PlacedBlocks.erase(block);
    free(block);
}

struct Exchange {
    std::vector<uint8_t> page = std::vector<uint8_t>(JobPageBytes);
    JobRequest request = {};
    JobReply reply = {};
    uint8_t* block = nullptr;
    ~Exchange() { UnplaceBlock(block); }
};

std::vector<uint8_t> CommentedFile() {
    FixtureImage image = MakePatternImage(96, 64, {{8, 0, 1, 1}, {8, 0, 1, 1}, {8, 0, 1, 1}});
    image.tiled = 1;
    return EncodeFixture(image, "a comment");
}

JobRequest MakeRequest(int32_t kind, const std::vector<uint8_t>& file) {
    JobRequest request = {};
    request.magic = JobMagic;
    request.version = JobProtocolVersion;
    request.sequence = 7;
    request.kind = kind;
    request.fileKind = ClassifyFileKind(file.data(), (uint32_t)file.size());
    request.length = (uint32_t)file.size();
    request.reduce = 1;
    request.previewReduce = kind == JobKindPlan ? 2 : 0;
    request.threads = 1;
    request.region = {8, 8, 40, 30};
    request.sectionCount = 1;
    return request;
}

// One job through the page both ways, with the decoder's reply written as it would be.
void RunExchange(Exchange* exchange, const std::vector<uint8_t>& file) {
    memcpy(exchange->page.data() + JobRequestOffset, &exchange->request, sizeof exchange->request);
    JobRequest received;
    ASSERT_TRUE(ReadJobRequest(&received, exchange->page.data(), JobPageBytes));
    JobReply written;
    ServeJobRequest(&written, &exchange->block, &received, file.data());
    written.block = exchange->block != nullptr ? 0x1234 : 0;
    written.processorTime = 0x123456789; // as the decoder's main fills it
    memcpy(exchange->page.data() + JobReplyOffset, &written, sizeof written);
}

TEST(JobProtocol, EachKindServedAsTheInProcessCallWouldGiveIt) {
    std::vector<uint8_t> file = CommentedFile();
    int kind = ClassifyFileKind(file.data(), (uint32_t)file.size());
    SetBitmapAllocator(PlaceBlock, UnplaceBlock);
    for (int32_t job = 0; job < JobProtocolKindCount; ++job) {
        SCOPED_TRACE(job);
        Exchange exchange;
        exchange.request = MakeRequest(job, file);
        RunExchange(&exchange, file);
        ASSERT_EQ(DecodeFailureNone,
                  ReadJobReply(&exchange.reply, exchange.page.data(), JobPageBytes, &exchange.request));
        ASSERT_NE(nullptr, exchange.block);
        EXPECT_EQ(1u, PlacedBlocks.count(exchange.block));
        EXPECT_TRUE(CheckJobBlock(exchange.block, exchange.reply.blockBytes, &exchange.reply, job));
        EXPECT_EQ(0x123456789u, exchange.reply.processorTime);
        uint8_t* expected = nullptr;
        PictureRegion level = {};
        int32_t size = (int32_t)file.size();
        switch (job) {
        case JobKindPlan:
            EXPECT_EQ(96u, exchange.reply.plan.fullWidth);
            DecodeLevelToPackedDib(&expected, nullptr, kind, file.data(), size, 2, 1);
            break;
        case JobKindLevel:
        case JobKindPrefix:
            DecodeLevelToPackedDib(&expected, nullptr, kind, file.data(), size, 1, 1);
            break;
        case JobKindRegion:
            DecodeRegionToPackedDib(&expected, &level, nullptr, kind, file.data(), size, 1, exchange.request.region, 1);
            EXPECT_EQ(0, memcmp(&level, &exchange.reply.level, sizeof level));
            break;
        case JobKindComments:
            EXPECT_STREQ("a comment", (const char*)exchange.block);
            continue;
        }
        ASSERT_NE(nullptr, expected);
        EXPECT_EQ(HashDib(expected), HashDib(exchange.block));
        UnplaceBlock(expected);
    }
    SetBitmapAllocator(nullptr, nullptr);
}

// Another page of a document: the decoder plans it, counts the pages, and
// composes it as the plug-in would, saying what it left out (an object held
// in another file).
TEST(JobProtocol, PagesBeyondTheFirstServedWithWhatComposingLeftOut) {
    FixtureImage image = MakePatternImage(16, 12, {{8, 0, 1, 1}, {8, 0, 1, 1}, {8, 0, 1, 1}});
    std::vector<uint8_t> codestream = EncodeFixture(image, nullptr);
    JpmPage first = {32, 24, 1, {{0, 0, 16, 12, {{1, codestream, 0, 0, 1, 0, 0}}}}};
    JpmPage second = {40, 30, 1, {{4, 4, 16, 12, {{1, codestream, 0, 0, 1, 0, 0}}}, {20, 4, 16, 12, {{1, codestream, 0, 0, 1, 1, 0}}}}};
    std::vector<uint8_t> file = MakeJpm({first, second});
    int kind = ClassifyFileKind(file.data(), (uint32_t)file.size());
    SetBitmapAllocator(PlaceBlock, UnplaceBlock);
    Exchange plan, level;
    plan.request = MakeRequest(JobKindPlan, file);
    plan.request.previewReduce = 0;
    level.request = MakeRequest(JobKindLevel, file);
    level.request.reduce = 0;
    for (Exchange* exchange : {&plan, &level}) {
        exchange->request.picture = 1;
        RunExchange(exchange, file);
        ASSERT_EQ(DecodeFailureNone,
                  ReadJobReply(&exchange->reply, exchange->page.data(), JobPageBytes, &exchange->request));
    }
    ComposedPicture expected = {};
    ASSERT_TRUE(DescribeComposedPicture(&expected, nullptr, kind, file.data(), (int32_t)file.size(), 1));
    EXPECT_EQ(0, memcmp(&expected, &plan.reply.composed, sizeof expected));
    EXPECT_EQ(2u, plan.reply.composed.count);
    EXPECT_EQ(40u, plan.reply.plan.fullWidth);
    uint8_t* page = nullptr;
    uint32_t notes = 0;
    ASSERT_TRUE(ComposePictureToPackedDib(&page, &notes, nullptr, kind, file.data(), (int32_t)file.size(), 1, 0, 1));
    EXPECT_EQ(HashDib(page), HashDib(level.block));
    EXPECT_EQ((uint32_t)ComposeNoteExternalData, level.reply.notes);
    EXPECT_EQ(notes, level.reply.notes);
    UnplaceBlock(page);
    SetBitmapAllocator(nullptr, nullptr);
}

// A change made to a good reply, and whether the plug-in may still use it.
struct ReplyFault {
    const char* what;
    void (*spoil)(JobReply* reply);
};

const ReplyFault ReplyFaults[] = {
    {"wrong magic", [](JobReply* r) { r->magic ^= 1; }},
    {"another version", [](JobReply* r) { r->version++; }},
    {"answers an earlier job", [](JobReply* r) { r->sequence--; }},
    {"a failure with no words", [](JobReply* r) { r->failure = 99; r->block = 0; }},
    {"says the decoder stopped itself", [](JobReply* r) { r->failure = DecodeFailureDecoderStopped; r->block = 0; }},
    {"a failure handing over a block", [](JobReply* r) { r->failure = DecodeFailureCorrupt; }},
    {"a picture without a block", [](JobReply* r) { r->block = 0; }},
    {"a block shorter than a header", [](JobReply* r) { r->blockBytes = 39; }},
    {"a note nobody knows", [](JobReply* r) { r->notes = 0x80; }},
};

TEST(JobProtocol, RepliesShortStaleOrGarbageRefused) {
    std::vector<uint8_t> file = CommentedFile();
    Exchange good;
    good.request = MakeRequest(JobKindLevel, file);
    RunExchange(&good, file);
    for (const ReplyFault& fault : ReplyFaults) {
        SCOPED_TRACE(fault.what);
        std::vector<uint8_t> page = good.page;
        JobReply reply;
        memcpy(&reply, page.data() + JobReplyOffset, sizeof reply);
        fault.spoil(&reply);
        memcpy(page.data() + JobReplyOffset, &reply, sizeof reply);
        EXPECT_EQ(DecodeFailureDecoderStopped, ReadJobReply(&reply, page.data(), JobPageBytes, &good.request));
    }
    JobReply reply;
    EXPECT_EQ(DecodeFailureDecoderStopped,
              ReadJobReply(&reply, good.page.data(), JobReplyOffset + sizeof(JobReply) - 1, &good.request));
    // Garbage that happens to be framed as a reply to this job.
    uint32_t seed = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> page = good.page;
        for (size_t at = JobReplyOffset + 12; at < JobReplyOffset + sizeof(JobReply); ++at) {
            seed = seed * 1103515245u + 12345u;
            page[at] = (uint8_t)(seed >> 16);
        }
        if (ReadJobReply(&reply, page.data(), JobPageBytes, &good.request) == DecodeFailureNone) {
            EXPECT_NE(0u, reply.block);
            EXPECT_GE(reply.blockBytes, 40u);
        }
    }
}

TEST(JobProtocol, PlansAndBlocksThatDisagreeRefused) {
    std::vector<uint8_t> file = CommentedFile();
    Exchange plan;
    plan.request = MakeRequest(JobKindPlan, file);
    RunExchange(&plan, file);
    JobReply reply;
    memcpy(&reply, plan.page.data() + JobReplyOffset, sizeof reply);
    const struct {
        const char* what;
        void (*spoil)(DecodePlan* plan);
    } PlanFaults[] = {
        {"shown finer than the codestream holds", [](DecodePlan* p) { p->shownReduce = p->maxReduce + 1; }},
        {"no width", [](DecodePlan* p) { p->fullWidth = 0; }},
        {"shown wider than the picture", [](DecodePlan* p) { p->shownWidth = p->fullWidth + 1; }},
        {"a depth no bitmap has", [](DecodePlan* p) { p->bitCount = 32; }},
    };
    for (const auto& fault : PlanFaults) {
        SCOPED_TRACE(fault.what);
        JobReply spoilt = reply;
        fault.spoil(&spoilt.plan);
        std::vector<uint8_t> page = plan.page;
        memcpy(page.data() + JobReplyOffset, &spoilt, sizeof spoilt);
        EXPECT_EQ(DecodeFailureDecoderStopped, ReadJobReply(&spoilt, page.data(), JobPageBytes, &plan.request));
    }
    JobReply noPictures = reply;
    noPictures.composed.count = 0;
    std::vector<uint8_t> page = plan.page;
    memcpy(page.data() + JobReplyOffset, &noPictures, sizeof noPictures);
    EXPECT_EQ(DecodeFailureDecoderStopped, ReadJobReply(&noPictures, page.data(), JobPageBytes, &plan.request));

    Exchange level;
    level.request = MakeRequest(JobKindLevel, file);
    RunExchange(&level, file);
    ASSERT_EQ(DecodeFailureNone, ReadJobReply(&reply, level.page.data(), JobPageBytes, &level.request));
    EXPECT_FALSE(CheckJobBlock(level.block, reply.blockBytes - 1, &reply, JobKindLevel)) << "more than is mapped";
    std::vector<uint8_t> wider(level.block, level.block + reply.blockBytes);
    wider[4]++;
    EXPECT_FALSE(CheckJobBlock(wider.data(), reply.blockBytes, &reply, JobKindLevel)) << "header grown";
    const uint8_t unterminated[] = {'a', 'b'};
    JobReply comments = {};
    comments.blockBytes = 2;
    EXPECT_FALSE(CheckJobBlock(unterminated, 2, &comments, JobKindComments));
}

TEST(JobProtocol, RequestsOutOfRangeRefused) {
    std::vector<uint8_t> file = CommentedFile();
    const struct {
        const char* what;
        void (*spoil)(JobRequest* request);
    } RequestFaults[] = {
        {"wrong magic", [](JobRequest* r) { r->magic = 0; }},
        {"no sections", [](JobRequest* r) { r->sectionCount = 0; }},
        {"more sections than a store has", [](JobRequest* r) { r->sectionCount = JobSectionLimit + 1; }},
        {"no bytes", [](JobRequest* r) { r->length = 0; }},
        {"past 2 GiB", [](JobRequest* r) { r->length = 0x80000000u; }},
        {"a reduce no codestream has", [](JobRequest* r) { r->reduce = 33; }},
        {"no thread", [](JobRequest* r) { r->threads = 0; }},
        {"an unknown job", [](JobRequest* r) { r->kind = JobProtocolKindCount; }},
        {"an empty region", [](JobRequest* r) { r->kind = JobKindRegion; r->region.right = r->region.left; }},
    };
    std::vector<uint8_t> page(JobPageBytes);
    JobRequest request = MakeRequest(JobKindLevel, file);
    JobRequest read;
    memcpy(page.data(), &request, sizeof request);
    EXPECT_TRUE(ReadJobRequest(&read, page.data(), JobPageBytes));
    EXPECT_FALSE(ReadJobRequest(&read, page.data(), sizeof request - 1)) << "truncated";
    for (const auto& fault : RequestFaults) {
        SCOPED_TRACE(fault.what);
        JobRequest spoilt = request;
        fault.spoil(&spoilt);
        memcpy(page.data(), &spoilt, sizeof spoilt);
        EXPECT_FALSE(ReadJobRequest(&read, page.data(), JobPageBytes));
    }
}

}  // namespace
