// The link between host and virtual module: one output report per period, every input report to
// every open handle with 32 buffered and the oldest dropped, a held receive side and a held
// output side.
#include <gtest/gtest.h>

#include <vector>

#include "sim/module/ModuleLink.h"

namespace sim {
namespace {

Report Numbered(uint8_t n) {
    Report r{};
    r[1] = 4;
    r[2] = n;
    return r;
}

// A writer that sends faster than the link waits: each report is taken a period after the one
// before it, or when written if the link is free by then.
TEST(ModuleLinkTest, OutputReportsTakeOnePeriodEach) {
    struct Case {
        const char* name;
        uint64_t periodUs;
        std::vector<uint64_t> sentUs;
        std::vector<uint64_t> takenUs;
        bool holdSend = false;
    };
    const Case cases[] = {
        {"1 ms, a burst of four", 1000, {0, 0, 0, 0}, {0, 1000, 2000, 3000}},
        {"1 ms, spaced writes go at once", 1000, {0, 1500, 5000}, {0, 1500, 5000}},
        {"1 ms, a write half a period after", 1000, {0, 500, 600}, {0, 1000, 2000}},
        {"2 ms, a burst of three", 2000, {10, 10, 10}, {10, 2010, 4010}},
        {"no limit", 0, {7, 7, 7}, {7, 7, 7}},
        // The output side held from 1000 us for 5000 us.
        {"1 ms, writes during a send hold wait for its end",
         1000,
         {0, 1000, 3000, 7000},
         {0, 6000, 7000, 8000},
         true},
    };
    for (const Case& c : cases) {
        ModuleLink link(1, c.periodUs);
        if (c.holdSend) link.HoldSend(1000, 5000);
        std::vector<uint64_t> taken;
        for (uint64_t sent : c.sentUs)
            taken.push_back(link.Carry(sent));
        EXPECT_EQ(taken, c.takenUs) << c.name;
        EXPECT_EQ(link.FreeUs(), c.takenUs.back() + c.periodUs) << c.name;
    }
}

// Every open handle gets every report; a handle that does not read keeps the newest 32; a
// closed one gets nothing; a held receive side reads nothing until the hold ends, then all
// that waited comes back to back, oldest first.
TEST(ModuleLinkTest, InputReportsGoToEveryHandleAndWaitWhileUnread) {
    struct Case {
        const char* name;
        int posted;
        bool holdReader;  // the reading handle's receive side held while the reports come
        std::vector<uint8_t> firstAndLastRead;  // of handle 0 after all were posted
        uint64_t dropped;                       // of handle 0
    };
    const Case cases[] = {
        {"a few, read as they come", 5, false, {0, 4}, 0},
        {"a few, held and read late", 5, true, {0, 4}, 0},
        {"exactly a full buffer, held", 32, true, {0, 31}, 0},
        {"more than a buffer, held: the oldest go", 40, true, {8, 39}, 8},
    };
    for (const Case& c : cases) {
        ModuleLink link(3);
        link.Open(0);
        link.Open(1);  // a handle nobody reads
        if (c.holdReader) link.HoldReceive(100, 1000);
        std::vector<uint8_t> read;
        Report r;
        for (int i = 0; i < c.posted; ++i) {
            link.Post(Numbered(static_cast<uint8_t>(i)));
            if (!c.holdReader)
                while (link.Read(0, 500, r))
                    read.push_back(r[2]);
        }
        EXPECT_EQ(link.Read(0, 1099, r), false) << c.name << ": nothing new, or held";
        while (link.Read(0, 1100, r))
            read.push_back(r[2]);
        ASSERT_FALSE(read.empty()) << c.name;
        EXPECT_EQ((std::vector<uint8_t>{read.front(), read.back()}), c.firstAndLastRead) << c.name;
        for (size_t k = 1; k < read.size(); ++k)
            EXPECT_EQ(read[k], read[k - 1] + 1) << c.name << ": in order, none lost between";
        EXPECT_EQ(link.Dropped(0), c.dropped) << c.name;
        EXPECT_EQ(link.Buffered(1), std::min<size_t>(c.posted, ModuleLink::kInputBufferReports))
            << c.name;
        EXPECT_EQ(link.Buffered(2), 0u) << c.name << ": never opened";
        link.Close(1);
        link.Post(Numbered(99));
        EXPECT_EQ(link.Buffered(1), 0u) << c.name << ": closed";
    }
}

// A read latency: each report can be read only that long after it was made, in order.
TEST(ModuleLinkTest, ALoadedReaderGetsEachReportItsLatencyLate) {
    ModuleLink link(1);
    link.Open(0);
    link.SetReadLatencyUs(5000);
    link.Post(Numbered(1), 1000);
    link.Post(Numbered(2), 3000);
    Report r;
    EXPECT_FALSE(link.Read(0, 5999, r));
    ASSERT_TRUE(link.Read(0, 6000, r));
    EXPECT_EQ(r[2], 1);
    EXPECT_FALSE(link.Read(0, 7999, r));
    link.SetReadLatencyUs(0);
    ASSERT_TRUE(link.Read(0, 7999, r));
    EXPECT_EQ(r[2], 2);
}

}  // namespace
}  // namespace sim
