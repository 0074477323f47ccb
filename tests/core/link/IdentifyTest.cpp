#include "core/link/LinkFixture.h"

namespace zelko::test {
namespace {

using Trace = std::vector<std::string>;

class IdentifyTest : public LinkTest {
protected:
    // A session whose chip answers the three signature reads with `sig`.
    void ChipWithSignature(std::initializer_list<std::string> sig)
    {
        HealthyAvrSession();
        line->OnWrites(sig);
        BoardLeave();
    }
    // A board-only connection, then the board's name and serial number.
    void BoardInfo(const std::string& name, const std::string& serialReply)
    {
        line->OnWrites({"+", "10c", std::string(1, static_cast<char>(name.size())) + name + "\r",
                        serialReply, ""});
    }
};

TEST_F(IdentifyTest, RecognisedChipIsSelected)
{
    Select("ATtiny13/13A");
    ChipWithSignature({"\x1E", "\x93", "\x07"});
    c.OnReadSignature();
    EXPECT_EQ(Statuses().front(), T(1110));
    EXPECT_EQ(ui.LastStatus(), "Signature: 1E 93 07 - ATmega8/8A");
    EXPECT_EQ(c.CurrentDeviceIndex(), FindByName("ATmega8/8A"));
    EXPECT_TRUE(c.projectSettings.Modified);
    EXPECT_EQ(c.lastSignature, (std::array<int, 3>{0x1E, 0x93, 0x07}));
    EXPECT_TRUE(Sent("tx 35 30 00 00"));
    EXPECT_TRUE(Sent("tx 35 30 00 02"));
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(ui.waitCursorDepth, 0);
}

TEST_F(IdentifyTest, SignatureOfTheSecondVariantIsReportedByItsRecord)
{
    Select("ATtiny13/13A");
    ChipWithSignature({"\x1E", "\x93", "\x0F"});
    c.OnReadSignature();
    EXPECT_EQ(ui.LastStatus(), "Signature: 1E 93 0F - ATmega88A/88PA");
}

TEST_F(IdentifyTest, ChipSharingTheSelectedRecordsSignatureKeepsTheSelection)
{
    // The ATA part carries its ATmega's signature; the table lists the ATmega
    // first, but the selected record is the right one for this chip.
    Select("ATA6602/6612");
    ChipWithSignature({"\x1E", "\x93", "\x0A"});
    c.OnReadSignature();
    EXPECT_EQ(c.CurrentDeviceIndex(), FindByName("ATA6602/6612"));
    EXPECT_FALSE(c.projectSettings.Modified);
    EXPECT_EQ(ui.LastStatus(), "Signature: 1E 93 0A - ATA6602/6612");
    EXPECT_TRUE(ui.Texts(UiEvent::YesNo).empty());

    line->trace.clear();
    line->OnWrites({"\x1E", "\x93", "\x0A"});
    c.serialPort.Open(0, 19200);
    EXPECT_EQ(c.CheckTargetSignature(), 0);
}

TEST_F(IdentifyTest, UnknownAndLockedChips)
{
    struct Case {
        std::string s0, s1, s2;
        std::string status;
    } cases[] = {
        {"\x1F", "\0"s, "\0"s, "Signature: 1F 00 00 - " + T(1079)},
        {"\xFF", "\xFF", "\xFF", "Signature: FF FF FF - " + T(1081)},
        {"\0"s, "\x01", "\x02", T(1111)},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.status);
        ui.Clear();
        Select("ATmega8/8A");
        ChipWithSignature({k.s0, k.s1, k.s2});
        c.OnReadSignature();
        EXPECT_EQ(ui.LastStatus(), k.status);
        EXPECT_EQ(c.CurrentDeviceIndex(), FindByName("ATmega8/8A"));
        EXPECT_TRUE(Boxes().empty());
    }
}

TEST_F(IdentifyTest, At89sSignatureInstructions)
{
    Select("AT89S52");
    line->OnWrites({"+", "10c", "", "\r", "", "", "\r", "\r", "\x01", "\x53"});
    line->OnWrites({"\x1E", "\x52", "\x06"});
    BoardLeave();
    c.OnReadSignature();
    EXPECT_EQ(ui.LastStatus(), "Signature: 1E 52 06 - AT89S52");
    const Trace bytes = line->Bytes();
    EXPECT_EQ(Trace(bytes.end() - 5, bytes.end() - 2),
              (Trace{"tx 35 28 00 00", "tx 35 28 01 00", "tx 35 28 02 00"}));

    line->trace.clear();
    Select("AT89S8253");
    line->OnWrites({"+", "10c", "", "\r", "", "", "\r", "\r", "\x01", "\x53"});
    line->OnWrites({"\x1E", "\x73", "\xFF"});
    BoardLeave();
    c.OnReadSignature();
    const Trace bytes2 = line->Bytes();
    EXPECT_EQ(Trace(bytes2.end() - 5, bytes2.end() - 2),
              (Trace{"tx 35 28 00 30", "tx 35 28 00 31", "tx 35 28 00 32"}));
    EXPECT_EQ(ui.LastStatus(), "Signature: 1E 73 FF - AT89S8253");
}

TEST_F(IdentifyTest, IncompleteSignatureIsReported)
{
    ChipWithSignature({"\x1E", ""});
    line->perWrite.pop_back();  // the leave answers follow the silent read
    line->perWrite.pop_back();
    BoardLeave();
    c.OnReadSignature();
    EXPECT_FALSE(Sent("tx 35 30 00 02"));
    EXPECT_TRUE(Sent("tx 2D"));
    EXPECT_EQ(ui.LastStatus(), T(1078));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{T(1078)}));
    EXPECT_EQ(c.lastSignature[2], 0xFF);
    EXPECT_EQ(ui.waitCursorDepth, 0);
}

TEST_F(IdentifyTest, NoPortConfigured)
{
    c.comPort = 0;
    c.OnReadSignature();
    EXPECT_EQ(Statuses(), (std::vector<std::string>{T(1110), T(1031)}));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{T(1032)}));
    EXPECT_EQ(ui.waitCursorDepth, 0);
    EXPECT_TRUE(line->trace.empty());
}

TEST_F(IdentifyTest, CheckTargetSignatureOutcomes)
{
    ASSERT_TRUE(c.serialPort.Open(0, 19200));
    line->OnWrites({"\x1E", "\x93", "\x07"});
    EXPECT_EQ(c.CheckTargetSignature(), 0);
    line->OnWrites({"\x1E", "\x90", "\x07"});
    EXPECT_EQ(c.CheckTargetSignature(), 1);
    line->OnWrites({"\0"s, "\x01", "\x02"});
    EXPECT_EQ(c.CheckTargetSignature(), 2);
    EXPECT_TRUE(Boxes().empty());
    line->OnWrites({"\x1E"});
    EXPECT_EQ(c.CheckTargetSignature(), -1);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{T(1120)}));
}

TEST_F(IdentifyTest, CalibrationBytesOfATwoByteChip)
{
    Select("ATtiny13/13A");
    c.baudIndex = 2;  // calibration stays at 19200
    HealthyAvrSession();
    line->OnWrites({"\x5A", "\x4F"});
    BoardLeave();
    c.OnReadCalibration();
    EXPECT_TRUE(Sent("tx 23 00 82 00"));
    EXPECT_TRUE(Sent("tx 35 38 00 00"));
    EXPECT_TRUE(Sent("tx 35 38 00 01"));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Calibration bytes:\n\n    1 MHz: 0x5A\n    2 MHz: 0x4F"}));
    EXPECT_EQ(ui.LastStatus(), "Calibration bytes: 5A 4F");
    EXPECT_FALSE(c.serialPort.IsOpen());
    EXPECT_EQ(ui.waitCursorDepth, 0);
}

TEST_F(IdentifyTest, CalibrationByteOfAOneByteChip)
{
    Select("ATmega48A/48PA");
    HealthyAvrSession();
    line->OnWrites({"\xA3"});
    BoardLeave();
    c.OnReadCalibration();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Calibration byte:\n\n    1 MHz: 0xA3"}));
    EXPECT_EQ(ui.LastStatus(), "Calibration byte: A3");
}

TEST_F(IdentifyTest, MissingCalibrationByte)
{
    Select("ATmega8/8A");
    HealthyAvrSession();
    line->OnWrites({"\x01", ""});
    BoardLeave();
    c.OnReadCalibration();
    EXPECT_EQ(ui.LastStatus(), T(1140));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{T(1027)}));
    EXPECT_FALSE(c.serialPort.IsOpen());
    EXPECT_EQ(ui.waitCursorDepth, 0);
}

TEST_F(IdentifyTest, ProgrammerInfoWithAFullLengthName)
{
    const std::string name(255, 'Z');
    BoardInfo(name, "\x01\x02\x03\x04\x05\r");
    c.OnProgrammerInfo();
    EXPECT_EQ(ui.LastStatus(), name + " (Serial number 01 02 03 04 05)");
    EXPECT_EQ(Boxes(), (std::vector<std::string>{
                           name + "\nVoltage: 3.3 ... 5.0 V\nSerial number: 01 02 03 04 05"}));
    EXPECT_EQ(line->Bytes(), (Trace{"tx 25", "tx 40", "tx 3F", "tx 4E", "tx 1B"}));
    EXPECT_FALSE(c.serialPort.IsOpen());
    EXPECT_EQ(ui.waitCursorDepth, 0);
}

TEST_F(IdentifyTest, BoardInfoFailures)
{
    struct Case {
        const char* what;
        std::initializer_list<std::string> answers;
        std::vector<std::string> boxes;
        bool escSent;
    };
    const Case cases[] = {
        {"serial without closing byte", {"+", "10c", "\x03ZI1\r", "\x01\x02\x03\x04\x05\x06"},
         {T(1035)}, true},
        {"bootloader name", {"+", "10c", "\x0EZI1 BootLoader\r"}, {T(1197)}, true},
        {"zero length", {"+", "10c", "\0"s}, {T(1033)}, false},
        {"name without closing byte", {"+", "10c", "\x03ZI1X"}, {T(1033)}, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ui.Clear();
        line->trace.clear();
        line->replies.clear();
        line->perWrite.clear();
        line->OnWrites(k.answers);
        std::string name;
        EXPECT_FALSE(c.ReadBoardInfo(&name, nullptr, false));
        EXPECT_EQ(Boxes(), k.boxes);
        EXPECT_EQ(Sent("tx 1B"), k.escSent);
        EXPECT_EQ(name, T(1029));
        EXPECT_EQ(ui.waitCursorDepth, 0);
    }
    // The bootloader name is not read for its serial number.
    EXPECT_FALSE(Sent("tx 4E"));
}

TEST_F(IdentifyTest, ProgrammerInfoWhenTheSerialCommandCannotBeSent)
{
    line->OnWrites({"+", "10c", "\x03ZI1\r"});
    line->failWriteCalls = {4, 5};  // the 'N' and its one retry
    c.OnProgrammerInfo();
    EXPECT_EQ(ui.LastStatus(), "ZI1");
    EXPECT_EQ(Boxes(), (std::vector<std::string>{
                           T(1035), "ZI1\nVoltage: 3.3 ... 5.0 V\nSerial number: not available"}));
    EXPECT_TRUE(Sent("tx 1B"));
}

TEST_F(IdentifyTest, BoardInfoInUpdateModeAcceptsTheBootloader)
{
    line->OnWrites({"\x0A" "Bootloader\r", "\x01\x02\x03\x04\x05\r", ""});
    std::string name;
    std::array<uint8_t, 5> serial{};
    ASSERT_TRUE(c.ReadBoardInfo(&name, &serial, true));
    EXPECT_EQ(name, "Bootloader");
    EXPECT_EQ(serial, (std::array<uint8_t, 5>{1, 2, 3, 4, 5}));
    EXPECT_EQ(line->Bytes(), (Trace{"tx 3F", "tx 4E", "tx 1B"}));
}

}  // namespace
}  // namespace zelko::test
