#include "core/link/LinkFixture.h"

namespace zelko::test {
namespace {

using Trace = std::vector<std::string>;

TEST_F(LinkTest, AvrSessionSendsTheExactSequenceWithItsPauses)
{
    c.projectSettings.ResetStrobeLength = 20;
    HealthyAvrSession();
    ASSERT_TRUE(c.EnterProgrammingMode(1, 0));
    EXPECT_EQ(line->trace, (Trace{"port 1", "open 19200", "sleep 50", "tx 25", "sleep 50",
                                  "tx 40", "tx 26", "tx 02", "tx 3A", "tx 00", "tx 00",
                                  "tx 23 00 82 00", "sleep 50", "sleep 50", "tx 51", "tx 4C",
                                  "sleep 20", "tx 55", "sleep 20", "tx 4C", "sleep 10",
                                  "tx 34 AC 53 00 00"}));
    EXPECT_EQ(Statuses(), (std::vector<std::string>{"Reset strobe... (20 ms)", T(1040)}));
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(c.CurrentDevice, &DeviceAt(FindByName("ATmega8/8A")));
    EXPECT_TRUE(c.serialPort.IsOpen());

    line->trace.clear();
    BoardLeave();
    EXPECT_TRUE(c.LeaveProgrammingMode());
    EXPECT_EQ(line->trace, (Trace{"sleep 150", "tx 2D", "sleep 150", "tx 23 00 82 00", "close"}));
    EXPECT_FALSE(c.serialPort.IsOpen());
}

TEST_F(LinkTest, SpeedSwitchReopensAtTheNewSpeedAndLeavesAt19200)
{
    c.projectSettings.Polling = true;
    HealthyAvrSession();
    ASSERT_TRUE(c.EnterProgrammingMode(1, 2));
    const Trace expected{"tx 23 02 82 01", "sleep 50", "sleep 50", "close", "sleep 45",
                         "port 1",         "open 230400", "sleep 45", "tx 51"};
    auto at = std::find(line->trace.begin(), line->trace.end(), "tx 23 02 82 01");
    ASSERT_NE(at, line->trace.end());
    EXPECT_EQ(Trace(at, at + static_cast<long>(expected.size())), expected);
    EXPECT_EQ(c.serialPort.BaudRate(), 230400);

    line->trace.clear();
    BoardLeave();
    EXPECT_TRUE(c.LeaveProgrammingMode());
    EXPECT_EQ(line->Bytes(), (Trace{"tx 2D", "tx 23 00 82 01"}));
}

TEST_F(LinkTest, At89sPathPreparesTheChipWithoutResetStrobe)
{
    Select("AT89S52");
    // '+' answered, the programming-enable instruction never answered.
    line->OnWrites({"+", "10c", "", "\r", "", "", "\r", "\r", "\x01"});
    ASSERT_TRUE(c.EnterProgrammingMode(1, 0));
    EXPECT_EQ(line->Bytes(), (Trace{"tx 25", "tx 40", "tx 26", "tx 01", "tx 3A", "tx 00", "tx 00",
                                    "tx 23 00 82 00", "tx 2B", "tx 34 AC 53 00 00"}));
    EXPECT_EQ(Statuses(), (std::vector<std::string>{T(1040)}));
}

TEST_F(LinkTest, SpiCodeTable)
{
    const uint8_t codes[] = {0x80, 0x00, 0x81, 0x01, 0x82, 0x02, 0x03};
    for (int i = 0; i < 7; ++i) {
        c.projectSettings.SPIPeriod = i;
        EXPECT_EQ(c.SpiCode(), codes[i]) << i;
    }
    Select("AT89S8253");
    c.projectSettings.SPIPeriod = 4;
    EXPECT_EQ(c.SpiCode(), 0x86);
    c.projectSettings.SPIPeriod = 1;
    EXPECT_EQ(c.SpiCode(), 0x04);
    c.projectSettings.SPIPeriod = 42;  // no such list entry: the slowest clock
    EXPECT_EQ(c.SpiCode(), 0x07);
}

TEST_F(LinkTest, StarIsAcceptedLikePlus)
{
    line->OnWrites({"*", "10c", "", "\r", "", "", "\r", "\r"});
    AvrStrobe();
    EXPECT_TRUE(c.EnterProgrammingMode(1, 0));
}

TEST_F(LinkTest, GarbageThenPlusAfterDraining)
{
    line->OnWrites({"\0"s, "+\x11\x22"s, "10c", "", "\r", "", "", "\r", "\r"});
    AvrStrobe();
    ASSERT_TRUE(c.EnterProgrammingMode(1, 0));
    const Trace start(line->trace.begin(), line->trace.begin() + 7);
    EXPECT_EQ(start, (Trace{"port 1", "open 19200", "sleep 50", "tx 25", "sleep 150", "tx 25",
                            "sleep 50"}));
    EXPECT_TRUE(Sent("tx 40"));
}

TEST_F(LinkTest, SecondUnexpectedAnswerMeansNoFirmware)
{
    line->OnWrites({"\x07", "\x07"});
    EXPECT_FALSE(c.EnterProgrammingMode(1, 0));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{T(1197)}));
    EXPECT_EQ(Statuses(), (std::vector<std::string>{T(1027)}));
}

TEST_F(LinkTest, NoFirmwareAnswerStopsAtOnce)
{
    line->OnWrites({"-"});
    EXPECT_FALSE(c.EnterProgrammingMode(1, 0));
    EXPECT_EQ(line->Bytes(), (Trace{"tx 25"}));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{T(1197)}));
    EXPECT_EQ(Statuses(), (std::vector<std::string>{T(1027)}));
    EXPECT_TRUE(c.serialPort.IsOpen());  // the next open closes it
}

TEST_F(LinkTest, SilentBoardIsAConnectionError)
{
    EXPECT_FALSE(c.EnterProgrammingMode(1, 0));
    EXPECT_EQ(line->Bytes(), (Trace{"tx 25"}));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{T(1027)}));
    EXPECT_EQ(Statuses(), (std::vector<std::string>{T(1027)}));
}

TEST_F(LinkTest, BabblingPeerIsDrainedOnlyBoundedly)
{
    line->OnWrites({"\0"s, "+"});
    line->babble = true;
    EXPECT_FALSE(c.EnterProgrammingMode(1, 0));
    EXPECT_EQ(line->Bytes(), (Trace{"tx 25", "tx 25"}));
    EXPECT_LE(line->reads, 4100);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{T(1027)}));
    EXPECT_EQ(Statuses(), (std::vector<std::string>{T(1027), T(2026)}));
}

struct VersionCase {
    const char* version;
    int box;
    int status;
    bool bootloader;
    bool conflict;
};

TEST_F(LinkTest, WrongFirmwareVersionsEndTheSession)
{
    const VersionCase cases[] = {
        {"10b", 1038, 1174, false, true},
        {"ld2", 1179, 1174, true, false},
        {"ldr", 1179, 1174, true, false},
        {"err", 1168, 1027, false, false},
    };
    for (const VersionCase& vc : cases) {
        SCOPED_TRACE(vc.version);
        ui.Clear();
        line->trace.clear();
        line->OnWrites({"+", vc.version});
        BoardLeave();
        EXPECT_FALSE(c.EnterProgrammingMode(1, 0));
        ASSERT_EQ(Boxes().size(), 1u);
        if (vc.box == 1038)
            EXPECT_EQ(Boxes()[0],
                      "Version conflict.\nFW version: 1.0b\nRequired version 1.0c.\n"
                      "Update version and try again.");
        else
            EXPECT_EQ(Boxes()[0], T(vc.box));
        EXPECT_EQ(Statuses(), (std::vector<std::string>{T(vc.status)}));
        EXPECT_EQ(c.bootloaderDetected, vc.bootloader);
        EXPECT_EQ(c.versionConflict, vc.conflict);
        EXPECT_FALSE(Sent("tx 26"));
        EXPECT_TRUE(Sent("tx 2D"));
        EXPECT_FALSE(c.serialPort.IsOpen());
    }
}

TEST_F(LinkTest, QuietVersionCheckStillFlagsButSaysNothing)
{
    EXPECT_FALSE(c.CheckFirmwareVersion({'1', '0', 'a'}, true));
    EXPECT_TRUE(c.versionConflict);
    EXPECT_FALSE(c.CheckFirmwareVersion({'l', 'd', 'r'}, true));
    EXPECT_TRUE(c.bootloaderDetected);
    EXPECT_FALSE(c.versionConflict);
    EXPECT_TRUE(c.CheckFirmwareVersion({'1', '0', 'c'}, false));
    EXPECT_FALSE(c.bootloaderDetected);
    EXPECT_TRUE(ui.Events().empty());
}

TEST_F(LinkTest, AnyBadReplyInTheResetStrobeAborts)
{
    for (int bad = 0; bad < 4; ++bad) {
        SCOPED_TRACE(bad);
        ui.Clear();
        line->trace.clear();
        line->replies.clear();
        line->perWrite.clear();
        BoardUntilMode();
        for (int i = 0; i < bad; ++i)
            line->OnWrites({"\r"});
        line->OnWrites({"\0"s});
        BoardLeave();
        EXPECT_FALSE(c.EnterProgrammingMode(1, 0));
        EXPECT_FALSE(Sent("tx 34 AC 53 00 00"));
        EXPECT_TRUE(Sent("tx 2D"));
        EXPECT_EQ(Statuses(), (std::vector<std::string>{"Reset strobe... (20 ms)", T(1027)}));
        EXPECT_EQ(Boxes(), (std::vector<std::string>{T(1027)}));
        EXPECT_FALSE(c.serialPort.IsOpen());
    }
}

TEST_F(LinkTest, MissingAcknowledgementAbortsTheSession)
{
    // '&' acknowledged with something else than 0x0D.
    line->OnWrites({"+", "10c", "", "X"});
    BoardLeave();
    EXPECT_FALSE(c.EnterProgrammingMode(1, 0));
    EXPECT_FALSE(Sent("tx 3A"));
    EXPECT_TRUE(Sent("tx 2D"));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{T(1027)}));
    EXPECT_EQ(Statuses(), (std::vector<std::string>{T(1027)}));
    EXPECT_FALSE(c.serialPort.IsOpen());
}

TEST_F(LinkTest, PortThatCannotOpenNamesDeviceAndReason)
{
    line->refuseOpen = true;
    EXPECT_FALSE(c.EnterProgrammingMode(3, 0));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{T(1173)}));
    EXPECT_EQ(Statuses(), (std::vector<std::string>{
                              T(1027), "Cannot open /dev/fake3: Device or resource busy"}));
    EXPECT_EQ(ui.Events().front().kind, UiEvent::Status);  // status first, then the box
}

TEST_F(LinkTest, ReopenFailureAtNewSpeedShowsBoxFirst)
{
    BoardUntilMode();
    line->refuseOpenAt = 1;
    EXPECT_FALSE(c.EnterProgrammingMode(1, 3));
    EXPECT_TRUE(Sent("open-failed 460800"));
    ASSERT_GE(ui.Events().size(), 2u);
    EXPECT_EQ(ui.Events()[0].kind, UiEvent::Box);
    EXPECT_EQ(ui.Events()[0].text, T(1173));
    EXPECT_EQ(ui.Events()[1].text, T(1027));
    EXPECT_FALSE(c.serialPort.IsOpen());
}

TEST_F(LinkTest, LeaveWithoutConfirmationClosesAndFails)
{
    HealthyAvrSession();
    ASSERT_TRUE(c.EnterProgrammingMode(1, 0));
    line->OnWrites({"\r", "?"});
    EXPECT_FALSE(c.LeaveProgrammingMode());
    EXPECT_FALSE(c.serialPort.IsOpen());
    // Nothing acknowledged the '-': the mode packet is not sent.
    HealthyAvrSession();
    ASSERT_TRUE(c.EnterProgrammingMode(1, 0));
    line->trace.clear();
    EXPECT_FALSE(c.LeaveProgrammingMode());
    EXPECT_EQ(line->Bytes(), (Trace{"tx 2D"}));
    EXPECT_FALSE(c.serialPort.IsOpen());
}

TEST_F(LinkTest, BoardOnlyConnectionReadsTheVersion)
{
    line->OnWrites({"+", "10c"});
    ASSERT_TRUE(c.ConnectAndIdentify(1, false, true, false, false));
    EXPECT_EQ(line->trace, (Trace{"port 1", "open 19200", "sleep 50", "sleep 50", "tx 25",
                                  "sleep 50", "tx 40", "sleep 50"}));
    EXPECT_EQ(c.boardVersion, (std::array<char, 3>{'1', '0', 'c'}));
    EXPECT_TRUE(c.serialPort.IsOpen());
    EXPECT_TRUE(c.CloseWithEscape());
    EXPECT_EQ(line->trace.back(), "close");
    EXPECT_EQ(line->trace[line->trace.size() - 2], "tx 1B");
    EXPECT_FALSE(c.CloseWithEscape());  // nothing open: the ESC cannot go out
}

TEST_F(LinkTest, BoardOnlyConnectionOpenOnlyAndQuietFailures)
{
    EXPECT_TRUE(c.ConnectAndIdentify(1, true, false, false, false));
    EXPECT_EQ(line->trace, (Trace{"port 1", "open 19200", "sleep 50"}));

    line->refuseOpen = true;
    EXPECT_FALSE(c.ConnectAndIdentify(1, false, true, true, false));
    EXPECT_TRUE(ui.Events().empty());

    line->refuseOpen = false;
    line->OnWrites({"+", "ld2"});
    EXPECT_FALSE(c.ConnectAndIdentify(1, false, true, false, true));
    EXPECT_TRUE(c.bootloaderDetected);
    EXPECT_TRUE(ui.Events().empty());
    EXPECT_EQ(line->trace.back(), "close");
}

TEST_F(LinkTest, BoardOnlyConnectionWithoutVersionReply)
{
    line->OnWrites({"+"});
    EXPECT_FALSE(c.ConnectAndIdentify(1, false, true, false, false));
    EXPECT_EQ(c.boardVersion, (std::array<char, 3>{0, 0, 0}));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{T(1027)}));
    EXPECT_TRUE(Sent("tx 1B"));
    EXPECT_FALSE(c.serialPort.IsOpen());
}

}  // namespace
}  // namespace zelko::test
