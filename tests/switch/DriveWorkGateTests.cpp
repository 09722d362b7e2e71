// One piece of long work on the drive at a time: the switch or a self-test, whoever
// started the test.

#include <gtest/gtest.h>

#include "optimize/DriveWorkGate.h"

namespace {

devicecmd::SelfTestLog DriveRunning(std::uint8_t operation) {
    devicecmd::SelfTestLog log;
    log.currentOperation = operation;
    return log;
}

TEST(DriveWorkGate, EachKindOfWorkKeepsOutTheOther) {
    const struct {
        const char* name;
        DriveWork first;
        DriveWork second;
    } cases[] = {
        {"test while the switch runs", DriveWork::Switch, DriveWork::SelfTest},
        {"switch while a test runs", DriveWork::SelfTest, DriveWork::Switch},
        {"second switch", DriveWork::Switch, DriveWork::Switch},
        {"second test", DriveWork::SelfTest, DriveWork::SelfTest},
    };
    for (const auto& c : cases) {
        DriveWorkGate gate;
        ASSERT_TRUE(gate.TryBegin(c.first)) << c.name;
        EXPECT_FALSE(gate.TryBegin(c.second)) << c.name;
        EXPECT_EQ(gate.Holder(), c.first) << c.name;
        // Ending the work that was refused gives nothing back.
        if (c.second != c.first) {
            gate.End(c.second);
            EXPECT_EQ(gate.Holder(), c.first) << c.name;
        }
        gate.End(c.first);
        EXPECT_FALSE(gate.Busy()) << c.name;
        EXPECT_TRUE(gate.TryBegin(c.second)) << c.name;
    }
    DriveWorkGate gate;
    EXPECT_FALSE(gate.TryBegin(DriveWork::None));
    EXPECT_FALSE(gate.Busy());
}

// The drive's log decides how long a test holds the gate: a test another tool started
// keeps the switch out, and the gate opens once the drive shows the test ended.
TEST(DriveWorkGate, TheDrivesLogHoldsAndReleasesTheTest) {
    DriveWorkGate gate;
    gate.Observe(DriveRunning(0x2));
    EXPECT_EQ(gate.Holder(), DriveWork::SelfTest);
    EXPECT_FALSE(gate.TryBegin(DriveWork::Switch));
    gate.Observe(DriveRunning(0x2));
    EXPECT_FALSE(gate.TryBegin(DriveWork::SelfTest));
    gate.Observe(DriveRunning(0x0));
    EXPECT_FALSE(gate.Busy());

    // A test this program started, held past its scope, ends when the drive says so.
    {
        DriveWorkTicket ticket(gate, DriveWork::SelfTest);
        ASSERT_TRUE(ticket.Held());
        ticket.Keep();
    }
    EXPECT_EQ(gate.Holder(), DriveWork::SelfTest);
    gate.Observe(DriveRunning(0x1));
    EXPECT_EQ(gate.Holder(), DriveWork::SelfTest);
    gate.Observe(DriveRunning(0x0));
    EXPECT_TRUE(gate.TryBegin(DriveWork::Switch));

    // While the switch runs, the drive's log does not open the gate.
    gate.Observe(DriveRunning(0x0));
    EXPECT_EQ(gate.Holder(), DriveWork::Switch);
    {
        DriveWorkTicket refused(gate, DriveWork::SelfTest);
        EXPECT_FALSE(refused.Held());
    }
    EXPECT_EQ(gate.Holder(), DriveWork::Switch);
    gate.End(DriveWork::Switch);
    {
        DriveWorkTicket ticket(gate, DriveWork::Switch);
        EXPECT_TRUE(ticket.Held());
    }
    EXPECT_FALSE(gate.Busy());
}

}  // namespace
