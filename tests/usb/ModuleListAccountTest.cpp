// ModuleListAccount: places come free only when a segment's last step has played, reports lower
// the account (moving the ends of the segments they show still playing) and never raise it, and
// a report that cannot know the latest segments does not lower it by mistake.
#include "usb/ModuleListAccount.h"

#include <gtest/gtest.h>

namespace usb {
namespace {

TEST(ModuleListAccountTest, PlacesComeFreeWhenTheLastStepHasPlayed) {
    ModuleListAccount account;
    EXPECT_EQ(account.Free(0), 12);
    EXPECT_TRUE(account.Empty(0));
    account.Sent(3, 100);
    account.Sent(2, 150);
    account.Sent(3, 120);  // never over before the one sent before it: held to 150
    struct Case {
        double now;
        int free;
    };
    for (const Case c : {Case{0, 4}, Case{99, 4}, Case{100, 7}, Case{149, 7}, Case{150, 12}})
        EXPECT_EQ(account.Free(c.now), c.free) << c.now;
    EXPECT_EQ(account.LastEnd(), 150);
    account.Later(10);  // the list plays 10 ticks later than planned
    EXPECT_EQ(account.Free(159), 7);
    EXPECT_EQ(account.Free(160), 12);
    account.SentUntilCleared(3);
    account.Later(10);  // a reset's end stays unknown
    EXPECT_EQ(account.Free(1e12), 9);
    account.Clear();
    EXPECT_EQ(account.Free(0), 12);
}

TEST(ModuleListAccountTest, ReportsLowerTheAccountAndNeverRaiseIt) {
    // Three segments of 3 places ending at 100, 200 and 300; each row a report made at a tick
    // with the places it shows taken, and what the account counts free afterwards at a tick.
    struct Case {
        const char* name;
        double made;
        int taken;
        bool lowered;
        double at;
        int free;
    };
    const Case cases[] = {
        {"agrees", 150, 6, false, 150, 6},
        {"shows less taken: no raise", 150, 0, false, 150, 6},
        {"shows the whole list at 50", 50, 9, false, 50, 3},
        {"first still held at 120", 120, 9, true, 120 + ModuleListAccount::kLateSlackTicks - 1, 3},
        {"first held at 120: it then ends", 120, 9, true, 120 + ModuleListAccount::kLateSlackTicks,
         6},
        {"all held at 310: every end moves", 310, 9, true, 372, 3},
        {"level: at least 7 taken at 250", 250, 7, true, 250, 3},
    };
    for (const Case& c : cases) {
        ModuleListAccount account;
        account.Sent(3, 100);
        account.Sent(3, 200);
        account.Sent(3, 300);
        EXPECT_EQ(account.Report(c.made, c.taken), c.lowered) << c.name;
        EXPECT_EQ(account.Free(c.at), c.free) << c.name;
    }
}

TEST(ModuleListAccountTest, SegmentsSentAfterAReportCountAsPlaying) {
    // A report made at 150 that shows only the segment ending at 200 (the one ending at 400 was
    // sent after it was made) lowers nothing.
    ModuleListAccount account;
    account.Sent(3, 100);
    account.Sent(3, 200);
    account.Sent(3, 400);
    EXPECT_FALSE(account.Report(150, 3));
    EXPECT_EQ(account.Free(200), 9);
}

}  // namespace
}  // namespace usb
