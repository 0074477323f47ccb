// Byte-exact traffic of the transfers against a scripted board: what is sent,
// what each reply does, which pauses are kept, and what the buffer states say
// afterwards.
#include <gtest/gtest.h>

#include <numeric>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/devices/DeviceTable.h"
#include "core/operations/ZI1Operations.h"
#include "core/operations/FakeTransport.h"
#include "support/TestSupport.h"

namespace zelko {
namespace {

using test::FakeBoard;
using test::RecordingUi;
using test::UiEvent;

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        NewBoard();
        c.boardDelays = {0, 3, 4, 0};  // page read 3 ms, page write 4 ms
    }
    void TearDown() override { c.serialPort.Close(); }
    void NewBoard()
    {
        link.reset();
        link = std::make_unique<test::FakeBoardLink>(c.serialPort);
        ASSERT_TRUE(c.serialPort.Open(0, 19200));
    }

    void Select(const char* name)
    {
        const int index = FindByName(name);
        ASSERT_GE(index, 0) << name;
        c.projectSettings.DeviceIndex = index;
    }
    FakeBoard& Board() { return *link->board; }

    int Program(MemoryBuffer& b, bool flash, int limit)
    {
        ZI1ProgramData op(c, &c.projectSettings);
        op.buffer = &b;
        op.isFlash = flash;
        op.writeCommand = flash ? kCmdWriteFlash : kCmdWriteEeprom;
        op.limit = limit;
        const int r = op.DoModal();
        userCancelled = op.UserCancelled();
        return r;
    }

    int CountState(const MemoryBuffer& b, ByteState s)
    {
        return static_cast<int>(std::count(b.States.begin(), b.States.end(), s));
    }

    RecordingUi ui;
    Controller c{ui};
    std::unique_ptr<test::FakeBoardLink> link;
    bool userCancelled = false;
};

TEST(DelayCodeTest, MillisecondsBecomeTheBoardsCode)
{
    struct Case { int ms; uint8_t code; };
    for (const Case& k : {Case{0, 0xFF}, Case{5, 0xDC}, Case{15, 0x96}, Case{50, 0xA1}, Case{37, 0xFC} /* wraps */})
        EXPECT_EQ(DelayCode(k.ms), k.code) << k.ms << " ms";
}

// ATmega8: 64-byte pages. Page 1 is erased and skipped; the last page is
// partial and padded with 0xFF; every byte ends Programmed.
TEST_F(TransferTest, PageModeSkipsErasedPagesAndPadsTheLastOne)
{
    Select("ATmega8/8A");
    std::vector<uint8_t> data(150, 0xFF);
    for (int i = 0; i < 64; ++i) data[i] = static_cast<uint8_t>(i);
    for (int i = 128; i < 150; ++i) data[i] = 0xA5;
    c.flashBuffer.SetContents(data, Loaded);

    ASSERT_EQ(Program(c.flashBuffer, true, 8192), kOpDone);

    EXPECT_EQ(Board().Log(), (std::vector<std::string>{
        "57 DC",     // the device's Flash write code
        "3A 00 00",  // address pointer to 0
        "7B 10 00 01 02 03 04 05 ...", "7B 10 10 11 12 13 14 15 ...",
        "7B 10 20 21 22 23 24 25 ...", "7B 10 30 31 32 33 34 35 ...",
        "34 4D 00 00 00", "34 4C 00 00 00", "sleep 15", "sleep 4",
        "sleep 4",   // page 1 is erased: skipped, only the board delay
        "7B 10 A5 A5 A5 A5 A5 A5 ...", "7B 10 A5 A5 A5 A5 A5 A5 ...",
        "7B 10 FF FF FF FF FF FF ...", "7B 10 FF FF FF FF FF FF ...",
        "34 4D 00 00 00", "34 4C 00 40 00", "sleep 15", "sleep 4"}));
    // The pointer is set with three one-byte writes.
    EXPECT_EQ(Board().Writes()[1], std::vector<uint8_t>{':'});
    // The padding of the last page really is 0xFF, past the 22 data bytes.
    const auto cmds = Board().Commands();
    const auto& q1 = cmds[cmds.size() - 5];
    EXPECT_EQ(q1[2 + 5], 0xA5);
    EXPECT_EQ(q1[2 + 6], 0xFF);
    EXPECT_EQ(CountState(c.flashBuffer, Programmed), 150);
}

TEST_F(TransferTest, PageModeSendsErasedPagesWhenSkippingIsDisabled)
{
    Select("ATmega8/8A");
    c.flashBuffer.SetContents(std::vector<uint8_t>(128, 0xFF), Loaded);
    c.projectSettings.NoSynchronization = true;
    c.projectSettings.DelayPage = true;
    c.projectSettings.DelayPageValue = 9;
    ASSERT_EQ(Program(c.flashBuffer, true, 8192), kOpDone);
    int commits = 0;
    for (const auto& cmd : Board().Commands())
        commits += cmd[0] == '4' && cmd[1] == 0x4C;
    EXPECT_EQ(commits, 2);
    const std::vector<int> sleeps = Board().Sleeps();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 9), 2)
        << "the page write override replaces the device's time";
}

TEST_F(TransferTest, AllErasedImageSendsOnlyTheSetUpButMarksEveryByte)
{
    Select("ATmega8/8A");
    c.flashBuffer.SetContents(std::vector<uint8_t>(8192, 0xFF), Loaded);
    ASSERT_EQ(Program(c.flashBuffer, true, 8192), kOpDone);
    EXPECT_EQ(Board().CommandLog(), (std::vector<std::string>{"57 DC", "3A 00 00"}));
    EXPECT_EQ(CountState(c.flashBuffer, Programmed), 8192);
    // 128 pages: the last report is 127 * 100 / 128 = 99 %, never 100 %.
    ASSERT_FALSE(ui.percents.empty());
    EXPECT_EQ(ui.percents.back(), 99);
    EXPECT_EQ(ui.percents.front(), 1);
}

// ATmega2560: a page at 0x20000 carries the extended address byte 1 and the
// word address 0.
TEST_F(TransferTest, PageAbove128KiBSendsTheExtendedAddress)
{
    Select("ATmega2560/2561");
    std::vector<uint8_t> data(0x20000 + 512, 0xFF);
    data[0x20000] = 0x12;
    data[0x20100] = 0x34;
    c.flashBuffer.SetContents(data, Loaded);
    ASSERT_EQ(Program(c.flashBuffer, true, 262144), kOpDone);
    std::vector<std::string> addresses;
    for (const auto& cmd : Board().Commands())
        if (cmd[0] == '4')
            addresses.push_back(test::Hex(cmd));
    EXPECT_EQ(addresses, (std::vector<std::string>{"34 4D 00 01 00", "34 4C 00 00 00",
                                                    "34 4D 00 01 00", "34 4C 00 80 00"}));
}

TEST_F(TransferTest, QuarterPageRepliesEndTheRun)
{
    struct Case { int reply; int result; };
    for (const Case& k : {Case{0x1B, kOpBoardCondition}, Case{-1, kOpLinkError}, Case{0x00, kOpLinkError}}) {
        SCOPED_TRACE(k.reply);
        Select("ATmega8/8A");
        FakeBoard& b = Board();
        b.hook = [&](const std::vector<uint8_t>& cmd, int index, std::vector<uint8_t>& reply) {
            (void)index;
            static int quarters = 0;
            if (cmd[0] == '{' && ++quarters == 6) {  // second page, second quarter
                quarters = 0;
                reply.clear();
                if (k.reply >= 0)
                    reply.push_back(static_cast<uint8_t>(k.reply));
            }
        };
        std::vector<uint8_t> data(256, 0x11);
        c.flashBuffer.SetContents(data, Loaded);
        ui.Clear();
        EXPECT_EQ(Program(c.flashBuffer, true, 8192), k.result);
        // Page mode reports every failure, the polling one included.
        EXPECT_EQ(ui.Texts(UiEvent::Box), std::vector<std::string>{Translate(1027)});
        EXPECT_EQ(CountState(c.flashBuffer, Programmed), 64);
        EXPECT_EQ(CountState(c.flashBuffer, Failed), 192);
        b.hook = nullptr;
        NewBoard();
    }
}

// EEPROM and Flash without pages go in blocks of up to 64 bytes, with the
// EEPROM write code and the board's page write delay after each block.
TEST_F(TransferTest, BlockModeSendsBlocksOf64)
{
    Select("ATmega8/8A");
    std::vector<uint8_t> data(100);
    std::iota(data.begin(), data.end(), 0);
    c.eepromBuffer.SetContents(data, Loaded);
    c.projectSettings.DelayByte2 = true;
    c.projectSettings.DelayByteValue2 = 5;
    ASSERT_EQ(Program(c.eepromBuffer, false, 512), kOpDone);
    EXPECT_EQ(Board().Log(), (std::vector<std::string>{"57 DC", "3E 40 00 01 02 03 04 05 ...",
                                                       "sleep 4", "3E 24 40 41 42 43 44 45 ...",
                                                       "sleep 4"}));
    EXPECT_EQ(Board().Commands()[2].size(), 2u + 36u);
    EXPECT_EQ(CountState(c.eepromBuffer, Programmed), 100);

    // A Flash without pages (AT86RF401) takes the same path with '{'.
    NewBoard();
    Select("AT86RF401");
    c.flashBuffer.SetContents(std::vector<uint8_t>(130, 0x00), Loaded);
    ASSERT_EQ(Program(c.flashBuffer, true, 2048), kOpDone);
    EXPECT_EQ(Board().CommandLog(),
              (std::vector<std::string>{"57 DC", "7B 40 00 00 00 00 00 00 ...",
                                        "7B 40 00 00 00 00 00 00 ...", "7B 02 00 00"}));
}

TEST_F(TransferTest, BlockModePollingFailureIsSilent)
{
    Select("ATmega8/8A");
    Board().hook = [](const std::vector<uint8_t>& cmd, int, std::vector<uint8_t>& reply) {
        if (cmd[0] == '>')
            reply = {0x1B};
    };
    c.eepromBuffer.SetContents(std::vector<uint8_t>(100, 1), Loaded);
    EXPECT_EQ(Program(c.eepromBuffer, false, 512), kOpBoardCondition);
    EXPECT_EQ(ui.Count(UiEvent::Box), 0);
    EXPECT_EQ(CountState(c.eepromBuffer, Failed), 100);
}

TEST_F(TransferTest, At89sByteModeWritesEachByteWithItsPause)
{
    Select("AT89S51");
    c.flashBuffer.SetContents({0x01, 0x02, 0x03}, Loaded);
    ASSERT_EQ(Program(c.flashBuffer, true, 4096), kOpDone);
    EXPECT_EQ(Board().Log(), (std::vector<std::string>{"34 40 00 00 01", "sleep 12", "34 40 00 01 02",
                                                       "sleep 12", "34 40 00 02 03", "sleep 12"}));
    NewBoard();
    c.projectSettings.DelayByte = true;
    c.projectSettings.DelayByteValue = 2;
    std::vector<uint8_t> big(0x102, 0x7E);
    c.flashBuffer.SetContents(big, Loaded);
    ASSERT_EQ(Program(c.flashBuffer, true, 4096), kOpDone);
    EXPECT_EQ(Board().Log().back(), "sleep 2");
    EXPECT_EQ(test::Hex(Board().Commands().back()), "34 40 01 01 7E");
}

// A buffer longer than the chip asks first. OK: only the chip's bytes, the
// rest stays Failed. Cancel: nothing at all is sent and the run counts as
// cancelled by the user.
TEST_F(TransferTest, LengthQuestionLimitsOrCancels)
{
    Select("ATmega8/8A");
    c.eepromBuffer.SetContents(std::vector<uint8_t>(600, 0x42), Loaded);
    ui.answers = {true};
    ASSERT_EQ(Program(c.eepromBuffer, false, 512), kOpDone);
    EXPECT_EQ(ui.Texts(UiEvent::OkCancel),
              std::vector<std::string>{"Warning: only first 512 bytes Eeprom will be processed."});
    EXPECT_EQ(CountState(c.eepromBuffer, Programmed), 512);
    EXPECT_EQ(CountState(c.eepromBuffer, Failed), 88);
    EXPECT_EQ(Board().Commands().size(), 1u + 8u);

    NewBoard();
    ui.answers = {false};
    EXPECT_EQ(Program(c.eepromBuffer, false, 512), kOpCancelled);
    EXPECT_TRUE(userCancelled);
    EXPECT_EQ(Board().BytesWritten(), 0u);
    EXPECT_EQ(CountState(c.eepromBuffer, Failed), 600);
}

TEST_F(TransferTest, ReadFollowsThePointerWithTheExtendedAddressBeforeEachBlock)
{
    Select("ATmega8/8A");
    for (size_t i = 0; i < Board().flash.size(); ++i)
        Board().flash[i] = static_cast<uint8_t>(i * 7);
    c.flashBuffer.CreateBuffer(100);
    ZI1ReadData op(c, &c.projectSettings);
    op.buffer = &c.flashBuffer;
    ASSERT_EQ(op.DoModal(), kOpDone);
    EXPECT_EQ(Board().Log(), (std::vector<std::string>{"57 DC", "34 4D 00 00 00", "7D 40", "sleep 3",
                                                       "34 4D 00 00 00", "7D 24", "sleep 3"}));
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(c.flashBuffer.Data[i], static_cast<uint8_t>(i * 7)) << i;
    EXPECT_EQ(CountState(c.flashBuffer, ReadBack), 100);
    // 100 bytes: a stage of 1, so the second block shows 100 %.
    EXPECT_EQ(ui.percents, std::vector<int>{100});
}

TEST_F(TransferTest, ReadThatStopsHalfwayKeepsWhatArrived)
{
    Select("ATmega8/8A");
    Board().hook = [](const std::vector<uint8_t>& cmd, int, std::vector<uint8_t>& reply) {
        static int reads = 0;
        if (cmd[0] == '}' && ++reads == 3) {
            reads = 0;
            reply.resize(10);  // a short reply is a missing one
        }
    };
    c.flashBuffer.CreateBuffer(256);
    ZI1ReadData op(c, &c.projectSettings);
    op.buffer = &c.flashBuffer;
    EXPECT_EQ(op.DoModal(), kOpLinkError);
    EXPECT_EQ(ui.Texts(UiEvent::Box), std::vector<std::string>{Translate(1027)});
    EXPECT_EQ(CountState(c.flashBuffer, ReadBack), 128);
    EXPECT_EQ(CountState(c.flashBuffer, Failed), 128);
}

TEST_F(TransferTest, At89sReadAndVerifyGoByteByByte)
{
    Select("AT89S51");
    Board().flash = {0x10, 0x20, 0x30};
    c.flashBuffer.CreateBuffer(3);
    {
        ZI1ReadData op(c, &c.projectSettings);
        op.buffer = &c.flashBuffer;
        ASSERT_EQ(op.DoModal(), kOpDone);
    }
    EXPECT_EQ(Board().Log(), (std::vector<std::string>{"35 20 00 00", "sleep 5", "35 20 00 01",
                                                       "sleep 5", "35 20 00 02", "sleep 5"}));
    EXPECT_EQ(c.flashBuffer.Data, (std::vector<uint8_t>{0x10, 0x20, 0x30}));

    c.flashBuffer.SetContents({0x10, 0x21, 0x30, 0x99}, Loaded);
    ZI1VerifyData v(c, &c.projectSettings);
    v.buffer = &c.flashBuffer;
    v.limit = 3;
    ASSERT_EQ(v.DoModal(), kOpDone);
    EXPECT_FALSE(v.matches);
    EXPECT_EQ(v.firstMismatch, 1);
    EXPECT_EQ(c.flashBuffer.States, (std::vector<uint8_t>{Verified, Failed, Verified, Failed}));
}

// Two differences at 10 and 700, a buffer longer than the chip's memory, and a
// difference in the last byte of a partial block.
TEST_F(TransferTest, VerifyComparesTheWholeRangeAndKeepsTheFirstDifference)
{
    Select("ATmega8/8A");
    Board().flash.assign(1000, 0x5A);
    std::vector<uint8_t> expected(1100, 0x5A);
    expected[10] = 0;
    expected[700] = 0;
    expected[999] = 0;
    c.flashBuffer.SetContents(expected, Loaded);
    ZI1VerifyData op(c, &c.projectSettings);
    op.buffer = &c.flashBuffer;
    op.limit = 1000;
    ASSERT_EQ(op.DoModal(), kOpDone);
    EXPECT_FALSE(op.matches);
    EXPECT_EQ(op.firstMismatch, 10);
    EXPECT_EQ(CountState(c.flashBuffer, Verified), 997);
    for (int i : {10, 700, 999, 1000, 1099})
        EXPECT_EQ(c.flashBuffer.States[i], Failed) << i;
    EXPECT_EQ(Board().Commands().back(), (std::vector<uint8_t>{'}', 1000 % 64}));
}

TEST_F(TransferTest, BlankCheckAddressesEveryBlockAndStopsAtData)
{
    Select("ATmega8/8A");
    Board().flash.assign(8192, 0xFF);
    Board().flash[130] = 0x00;
    ZI1BlankCheck op(c, &c.projectSettings);
    ASSERT_EQ(op.DoModal(), kOpBoardCondition);
    EXPECT_EQ(Board().CommandLog(),
              (std::vector<std::string>{"57 DC", "34 4D 00 00 00", "7D 40", "34 4D 00 00 00",
                                        "7D 40", "34 4D 00 00 00", "7D 40"}));
    EXPECT_EQ(ui.Count(UiEvent::Box), 0);
}

TEST_F(TransferTest, BlankCheckOfAnAt89sReadsEveryByteWithoutPauses)
{
    Select("AT89S51");
    Board().flash.assign(4096, 0xFF);
    ZI1BlankCheck op(c, &c.projectSettings);
    ASSERT_EQ(op.DoModal(), kOpDone);
    EXPECT_EQ(Board().Commands().size(), 4096u);
    EXPECT_TRUE(Board().Sleeps().empty());
    EXPECT_EQ(ui.percents.back(), 98);  // 63 * 100 / 64
}

}  // namespace
}  // namespace zelko
