// The in-process transport and the boards behind the "sim" port names.
#include <gtest/gtest.h>

#include <chrono>

#include "core/devices/DeviceTable.h"
#include "core/link/PortMap.h"
#include "sim/SimTransport.h"

using namespace zelko;
using namespace zelko::sim;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Exchange(Transport& t, const Bytes& sent, size_t want = 64)
{
    EXPECT_EQ(t.Write(sent.data(), sent.size(), 2800), static_cast<long>(sent.size()));
    Bytes got(want);
    const long n = t.Read(got.data(), got.size(), 2800);
    got.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return got;
}

class SimTransportTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSimBoards(); }
    void TearDown() override { ResetSimBoards(); }
};

}  // namespace

TEST_F(SimTransportTest, RepliesAreThereAtOnceAndSilenceCostsNoTime)
{
    auto t = MakeSimTransport("sim:ATmega8/8A", -1);
    std::string error;
    ASSERT_TRUE(t->Open(19200, error)) << error;
    const auto start = std::chrono::steady_clock::now();
    uint8_t buf[4];
    EXPECT_EQ(t->Read(buf, 4, 2800), 0);  // nothing pending: no wait
    EXPECT_EQ(Exchange(*t, {0x1B}), Bytes{});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(Exchange(*t, {'@'}), (Bytes{'1', '0', 'c'}));
    // a read takes no more than asked for
    t->Write(reinterpret_cast<const uint8_t*>("@"), 1, 2800);
    EXPECT_EQ(t->Read(buf, 2, 2800), 2);
    EXPECT_EQ(t->Read(buf, 2, 2800), 1);
    EXPECT_EQ(buf[0], 'c');
    t->Close();
    EXPECT_EQ(t->Read(buf, 1, 10), -1);
    EXPECT_EQ(t->Write(buf, 1, 10), -1);
}

TEST_F(SimTransportTest, ReplyBytesLeftUnreadAreLostOnClose)
{
    auto t = MakeSimTransport("sim:ATmega8/8A", -1);
    std::string error;
    ASSERT_TRUE(t->Open(19200, error));
    const uint8_t at = '@';
    t->Write(&at, 1, 2800);
    t->Close();
    ASSERT_TRUE(t->Open(19200, error));
    uint8_t buf[4];
    EXPECT_EQ(t->Read(buf, 4, 2800), 0);
}

TEST_F(SimTransportTest, AWrongLineSpeedGarblesTheTraffic)
{
    auto t = MakeSimTransport("sim:ATmega8/8A", -1);
    std::string error;
    ASSERT_TRUE(t->Open(115200, error));
    EXPECT_EQ(Exchange(*t, {'%'}), Bytes{});
    t->Close();

    // speed index 1 switches the board; the host follows by re-opening
    ASSERT_TRUE(t->Open(19200, error));
    EXPECT_EQ(Exchange(*t, {'#', 1, 0x82, 0}), Bytes{0x0D});
    EXPECT_EQ(Exchange(*t, {'%'}), Bytes{});
    t->Close();
    ASSERT_TRUE(t->Open(115200, error));
    EXPECT_EQ(Exchange(*t, {'%'}), Bytes{'+'});
    // back to 19200: the host that stays at 115200 is not understood
    EXPECT_EQ(Exchange(*t, {'#', 0, 0x82, 0}), Bytes{0x0D});
    EXPECT_EQ(Exchange(*t, {'@'}), Bytes{});
    t->Close();
    ASSERT_TRUE(t->Open(19200, error));
    EXPECT_EQ(Exchange(*t, {'%'}), Bytes{'+'});
}

TEST_F(SimTransportTest, SlowBytesArriveOneByOne)
{
    auto t = MakeSimTransport("sim:ATmega8/8A,slow=40", -1);
    std::string error;
    ASSERT_TRUE(t->Open(19200, error));
    const uint8_t at = '@';
    t->Write(&at, 1, 2800);
    uint8_t buf[3];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(t->Read(buf, 3, 5), 0);  // the first byte is 40 ms away
    EXPECT_EQ(t->Read(buf, 3, 2800), 1);
    EXPECT_EQ(buf[0], '1');
    size_t got = 1;
    while (got < 3) {
        const long n = t->Read(buf + got, 3 - got, 2800);
        ASSERT_GT(n, 0);
        got += static_cast<size_t>(n);
    }
    EXPECT_EQ(buf[2], 'c');
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(115));
}

TEST_F(SimTransportTest, OneBoardPerPortNameForTheLifeOfTheProcess)
{
    std::string error;
    auto a = SimBoardFor("sim:ATmega8/8A,locked=1", -1, error);
    auto b = SimBoardFor("sim:ATmega8/8A,locked=1", -1, error);
    auto c = SimBoardFor("sim:ATmega8/8A", -1, error);
    ASSERT_TRUE(a && c);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_TRUE(a->Chip().Locked());
    EXPECT_FALSE(c->Chip().Locked());

    // what one transport programs, the next one finds
    auto t = MakeSimTransport("sim:ATmega8/8A", -1);
    ASSERT_TRUE(t->Open(19200, error));
    const Bytes session{'&', 2, ':', 0, 0, 'Q', 'L', 'U', 'L', '4', 0xAC, 0x53, 0, 0,
                        '>', 1, 0x5A};
    t->Write(session.data(), session.size(), 2800);
    t->Close();
    EXPECT_EQ(c->Chip().Eeprom()[0], 0x5A);
    EXPECT_EQ(FindSimBoard("sim:ATmega8/8A"), c);
}

TEST_F(SimTransportTest, PlainSimIsTheSelectedDevice)
{
    const int tiny13 = FindByName("ATtiny13/13A");
    const int mega8 = FindByName("ATmega8/8A");
    std::string error;
    auto a = SimBoardFor("sim", tiny13, error);
    auto b = SimBoardFor("sim", mega8, error);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->Chip().DeviceIndex(), tiny13);
    EXPECT_EQ(b->Chip().DeviceIndex(), mega8);
    EXPECT_EQ(FindSimBoard("sim", tiny13), a);
}

TEST_F(SimTransportTest, BadPortNamesFailToOpenWithTheReason)
{
    for (const char* portName : {"sim:ATmega9", "sim:ATmega8/8A,colour=blue", "sim:ATmega8/8A,slow=x"}) {
        auto t = MakeSimTransport(portName, -1);
        ASSERT_TRUE(t);
        std::string error;
        EXPECT_FALSE(t->Open(19200, error)) << portName;
        EXPECT_NE(error.find("simulator"), std::string::npos) << error;
    }
}

TEST_F(SimTransportTest, RegisteredFactoryServesTheSimPorts)
{
    RegisterBuiltInSimulator();
    ASSERT_TRUE(SimFactory());
    auto t = SimFactory()("sim:AT89S8253", -1);
    ASSERT_TRUE(t);
    std::string error;
    ASSERT_TRUE(t->Open(19200, error));
    EXPECT_EQ(Exchange(*t, {'%'}), Bytes{'+'});
    // a board the program runs against for hours keeps no trace
    auto board = FindSimBoard("sim:AT89S8253");
    ASSERT_TRUE(board);
    EXPECT_TRUE(board->Trace().empty());
    EXPECT_EQ(board->CommandCount('%'), 1);
}

TEST_F(SimTransportTest, OptionParsing)
{
    SimConfig c;
    std::string error;
    ASSERT_TRUE(ParseSimPortName("sim:ATmega8,signature=1e-93-07,cal=5A4F,noreply=::2,"
                             "wrongreply=0x25:1:0x00,truncate=N:1,garbage=00,serial=0102030405,"
                             "lock=0xFC,star,bootloader=yes",
                             -1, c, error))
        << error;
    EXPECT_EQ(c.device, "ATmega8/8A");
    EXPECT_EQ(*c.signature, (std::array<uint8_t, 3>{0x1E, 0x93, 0x07}));
    EXPECT_EQ(c.calibration, (Bytes{0x5A, 0x4F}));
    ASSERT_EQ(c.noReply.size(), 1u);
    EXPECT_EQ(c.noReply[0].command, ':');
    EXPECT_EQ(c.noReply[0].occurrence, 2);
    ASSERT_EQ(c.wrongReply.size(), 1u);
    EXPECT_EQ(c.wrongReply[0].command, '%');
    EXPECT_EQ(c.wrongReply[0].value, 0);
    EXPECT_EQ(c.truncated[0].command, 'N');
    EXPECT_EQ(c.garbage, Bytes{0});
    EXPECT_EQ(c.serial, (std::array<uint8_t, 5>{1, 2, 3, 4, 5}));
    EXPECT_EQ(*c.lock, 0xFC);
    EXPECT_TRUE(c.star);
    EXPECT_TRUE(c.bootloader);

    // a device may be named by one of the variants its entry combines
    const std::pair<const char*, const char*> names[] = {
        {"sim:ATmega328P", "ATmega328/328P"}, {"sim:atmega8a", "ATmega8/8A"},
        {"sim:AT90PWM3", "AT90PWM2/3"},       {"sim:ATmega16U4", "ATmega16U2/16U4"},
        {"sim:ATtiny13", "ATtiny13/13A"},     {"sim:device=AT89S52", "AT89S52"}};
    for (const auto& [portName, device] : names) {
        SimConfig d;
        EXPECT_TRUE(ParseSimPortName(portName, -1, d, error)) << portName << ": " << error;
        EXPECT_EQ(d.device, device);
    }

    for (const char* bad : {"sim:ATmega8,noreply=%", "sim:ATmega8,noreply=%:0",
                            "sim:ATmega8,signature=1E93", "sim:ATmega8,version=1.0c",
                            "sim:ATmega8,cal=0102030405", "simulator", "sim:ATmega8,locked=maybe"}) {
        SimConfig d;
        EXPECT_FALSE(ParseSimPortName(bad, -1, d, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}
