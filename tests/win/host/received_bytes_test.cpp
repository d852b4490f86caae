// The received-bytes store's rules, one table of streams: every byte lands
// once where it stays, gaps read as zeros, sections at least double the
// whole, a hostile announced length does not fail the stream (a block far
// past the end is refused), and views
// taken half way (directly, or mapped again from shared handles as a
// decoder process would) outlive the store's growth and its close. Then
// the preparer's rule: a browser that writes only into the room offered
// never makes a write prepare for itself, and is never left without room.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <vector>

#include "host/received_bytes.h"

namespace {

struct Write {
    uint32_t offset;
    uint32_t length;
};

uint8_t ByteAt(uint32_t offset) { return (uint8_t)(offset * 7 + offset / 251 + 1); }

// The file the writes make: each written byte, zeros in the gaps.
std::vector<uint8_t> Expected(const std::vector<Write>& writes, size_t count) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < count; ++i) {
        const Write& w = writes[i];
        bytes.resize(std::max<size_t>(bytes.size(), (size_t)w.offset + w.length), 0);
        for (uint32_t at = w.offset; at < w.offset + w.length; ++at) bytes[at] = ByteAt(at);
    }
    return bytes;
}

std::vector<Write> InSteps(uint32_t length, uint32_t step) {
    std::vector<Write> writes;
    for (uint32_t at = 0; at < length; at += step) writes.push_back({at, std::min(step, length - at)});
    return writes;
}

bool Matches(const BytesView& view, const std::vector<uint8_t>& expected) {
    return view.length == expected.size() &&
           (expected.empty() || memcmp(view.data, expected.data(), expected.size()) == 0);
}

TEST(ReceivedBytes, EachByteStoredOnceInSectionsThatDoubleAndViewsOutliveTheStore) {
    const struct Row {
        const char* name;
        uint32_t announced;
        std::vector<Write> writes;
        int32_t sections;  // 0: not checked
    } rows[] = {
        {"announced", 300000, InSteps(300000, 65536), 1},
        {"unannounced", 0, InSteps(3u << 20, 100000), sizeof(void*) >= 8 ? 1 : 3},
        {"understated", 100000, InSteps(300000, 65536), 2},
        {"hostile 4 GB", 0xFFFFFFFFu, InSteps(300000, 65536), 0},
        {"out of order", 0, {{5000, 1000}, {0, 1000}, {(5u << 19) + 10, 1000}, {1000, 2000}, {1u << 20, 10}}, sizeof(void*) >= 8 ? 1 : 2},
    };
    std::vector<uint8_t> scratch;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ReceivedBytes store;
        ASSERT_EQ(1, OpenReceivedBytes(&store, row.announced));
        size_t half = row.writes.size() / 2;
        BytesView early = {};
        for (size_t i = 0; i < row.writes.size(); ++i) {
            const Write& w = row.writes[i];
            scratch.resize(w.length);
            for (uint32_t k = 0; k < w.length; ++k) scratch[k] = ByteAt(w.offset + k);
            BeginStoreUse(&store);
            int viewed = i != half || TakeBytesView(&early, &store, store.length);
            int written = WriteReceivedBytes(&store, w.offset, scratch.data(), w.length);
            EndStoreUse(&store);
            ASSERT_TRUE(viewed && written) << i;
        }
        std::vector<uint8_t> expected = Expected(row.writes, row.writes.size());
        ASSERT_EQ(expected.size(), store.length);
        EXPECT_EQ(0, memcmp(ReceivedBytesData(&store), expected.data(), expected.size()));
        // The preparer may have added the next section already.
        if (row.sections) {
            EXPECT_LE(row.sections, store.sectionCount);
            EXPECT_LE(store.sectionCount, row.sections + 1);
        }
        uint64_t whole = 0, committed = 0;
        for (int32_t i = 0; i < store.sectionCount; ++i) {
            if (i > 0) {
                EXPECT_GE(store.sections[i].capacity, whole) << i;
            }
            whole += store.sections[i].capacity;
            committed += store.sections[i].committed;
        }
        // In memory once: what is committed is what arrived, and at most a
        // quarter more (or 2 MiB) prepared ahead of it.
        EXPECT_LE(committed, expected.size() + std::max<size_t>(expected.size() / 4, 1u << 20) + (1u << 20) +
                                 store.sectionCount * 65536u);

        // A block far past what is reserved is refused, and changes nothing.
        ASSERT_EQ(0, WriteReceivedBytes(&store, store.length + (1u << 30), scratch.data(), 1));
        EXPECT_EQ(expected.size(), store.length);

        BytesView full, shared;
        BeginStoreUse(&store);
        ASSERT_EQ(1, TakeBytesView(&full, &store, store.length));
        EndStoreUse(&store);
        HANDLE handles[ReceivedSectionLimit];
        int32_t count = ShareBytesView(handles, ReceivedSectionLimit, &full, GetCurrentProcess());
        ASSERT_EQ(full.sectionCount, count);
        ASSERT_EQ(1, MapSectionsSideBySide(&shared, handles, full.capacities, count, full.length));
        BytesView tooLong;
        EXPECT_EQ(0, TakeBytesView(&tooLong, &store, store.length + 1));
        CloseReceivedBytes(&store);
        EXPECT_TRUE(Matches(full, expected));
        EXPECT_TRUE(Matches(shared, expected));
        // A view shares the pages: a block written later below its length shows.
        EXPECT_EQ(Expected(row.writes, half).size(), early.length);
        EXPECT_TRUE(Matches(early, std::vector<uint8_t>(expected.begin(), expected.begin() + early.length)));
        // The views are read-only.
        MEMORY_BASIC_INFORMATION page;
        ASSERT_NE(0u, VirtualQuery(full.data, &page, sizeof page));
        EXPECT_EQ((DWORD)PAGE_READONLY, page.AllocationProtect);
        for (BytesView* view : {&early, &full, &shared}) ReleaseBytesView(view);
    }
}

TEST(ReceivedBytes, WritesIntoTheRoomOfferedOnlyCopy) {
    const uint32_t Block = 65536;
    const struct Row {
        const char* name;
        uint32_t announced;
        uint32_t length;
    } rows[] = {
        {"announced, last block short", (40u << 20) + 1000, (40u << 20) + 1000},
        {"unannounced, several sections", 0, 40u << 20},
    };
    std::vector<uint8_t> block(Block);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ReceivedBytes store;
        ASSERT_EQ(1, OpenReceivedBytes(&store, row.announced));
        ASSERT_NE(nullptr, store.preparer);
        uint32_t writes = 0;
        DWORD start = GetTickCount();
        for (uint32_t at = 0; at < row.length && GetTickCount() - start < 20000;) {
            uint32_t length = std::min(Block, row.length - at);
            if (ReceivedBytesRoom(&store) < (int32_t)length) {
                Sleep(1);
                continue;
            }
            for (uint32_t k = 0; k < length; ++k) block[k] = ByteAt(at + k);
            BeginStoreUse(&store);
            int written = WriteReceivedBytes(&store, at, block.data(), length);
            EndStoreUse(&store);
            ASSERT_EQ(1, written);
            at += length;
            ++writes;
        }
        ASSERT_EQ(row.length, store.length);
        EXPECT_EQ(writes, store.preparedWrites);
        std::vector<Write> all = InSteps(row.length, Block);
        EXPECT_EQ(0, memcmp(ReceivedBytesData(&store), Expected(all, all.size()).data(), row.length));
        CloseReceivedBytes(&store);
    }
}

}  // namespace
