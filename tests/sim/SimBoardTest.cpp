// The simulated board: every command's reply, the address pointer, the line
// speed, the bootloader and the injected faults.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "core/devices/DeviceTable.h"
#include "sim/SimBoard.h"
#include "sim/SimTestSupport.h"

using namespace zelko::sim;
using namespace zelko::sim::test;

namespace {

Bytes FirmwareImage()
{
    std::ifstream f(std::string(ZELKO_DATA_DIR) + "/zi1-firmware.bin", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Sends '^' and the image in 4-byte groups; returns the number of group
// acknowledgements.
size_t Upload(SimBoard& board, const Bytes& image)
{
    EXPECT_EQ(Send(board, {'^'}), Bytes{'+'});
    size_t acks = 0;
    for (size_t g = 0; g + 4 <= image.size(); g += 4)
        acks += Send(board, Bytes(image.begin() + static_cast<long>(g),
                                  image.begin() + static_cast<long>(g) + 4))
                    .size();
    return acks;
}

}  // namespace

TEST(SimBoard, EveryCommandAnswersWithItsReply)
{
    SimBoard board(ConfigFor("ATmega8/8A", "serial=0102030405,name=ZK test"));
    const Bytes ack{0x0D};
    struct Row {
        Bytes sent;
        Bytes reply;
    };
    const Row rows[] = {
        {{'%'}, {'+'}},
        {{'@'}, Str("10c")},
        {{'&', 2}, ack},
        {{':', 0, 0}, ack},
        {{'#', 0, 0x82, 0}, ack},
        {{'Q'}, ack},
        {{'L'}, ack},
        {{'U'}, ack},
        {{'L'}, ack},
        {{'4', 0xAC, 0x53, 0x00, 0x00}, ack},
        {{'5', 0x30, 0x00, 0x00}, {0x1E}},
        {{'5', 0x30, 0x00, 0x01}, {0x93}},
        {{'5', 0x30, 0x00, 0x02}, {0x07}},
        {{'W', 0xDC}, ack},
        {{'>', 2, 0x11, 0x22}, ack},
        {{':', 0, 0}, ack},
        {{'<', 3}, {0x11, 0x22, 0xFF}},
        {{'{', 1, 0x55}, ack},
        {{'}', 2}, {0xFF, 0xFF}},
        {{'3', 0xAC, 0x04, 0x00, 0x00}, ack},
        {{'+'}, ack},
        {{'-'}, ack},
        {{'?'}, [] { Bytes b{7}; Bytes n = Str("ZK test"); b.insert(b.end(), n.begin(), n.end()); b.push_back(0x0D); return b; }()},
        {{'N'}, {1, 2, 3, 4, 5, 0x0D}},
        {{0x1B}, {}},
        {{'Z'}, {}},      // not a command: ignored
        {{0x00}, {}},
        {{'%'}, {'+'}},   // and the board is still in step
    };
    for (const Row& row : rows)
        EXPECT_EQ(Send(board, row.sent), row.reply) << "command '" << char(row.sent[0]) << "'";
    EXPECT_EQ(board.CommandCount('%'), 2);
    EXPECT_EQ(board.CommandCount('L'), 2);
    EXPECT_EQ(board.DeviceCode(), 2);
    EXPECT_EQ(board.DelayCode(), 0xDC);
}

TEST(SimBoard, ParametersMaySpreadOverSeveralWrites)
{
    SimBoard board(ConfigFor("ATmega8/8A"));
    OpenSession(board);
    EXPECT_TRUE(Send(board, {'5', 0x30}).empty());
    EXPECT_TRUE(Send(board, {0x00}).empty());
    EXPECT_EQ(Send(board, {0x01}), Bytes{0x93});
    EXPECT_TRUE(Send(board, {'>', 3, 1}).empty());
    EXPECT_EQ(Send(board, {2, 3}), Bytes{0x0D});
}

TEST(SimBoard, BlockCommandsAdvanceThePointer)
{
    SimBoard board(ConfigFor("ATmega8/8A"));
    OpenSession(board);
    // one 64-byte page in four quarters, then committed by its word address
    Bytes page(64);
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<uint8_t>(i + 1);
    Send(board, {':', 0x00, 0x40});  // the second page
    for (int q = 0; q < 4; ++q) {
        Bytes block{'{', 16};
        block.insert(block.end(), page.begin() + q * 16, page.begin() + q * 16 + 16);
        EXPECT_EQ(Send(board, block), Bytes{0x0D});
    }
    EXPECT_EQ(board.Pointer(), 0x80u);
    EXPECT_EQ(Send(board, {'4', 0x4D, 0x00, 0x00, 0x00}), Bytes{0x0D});
    EXPECT_EQ(Send(board, {'4', 0x4C, 0x00, 0x20, 0x00}), Bytes{0x0D});
    const auto& flash = board.Chip().Flash();
    EXPECT_EQ(Bytes(flash.begin() + 64, flash.begin() + 128), page);
    EXPECT_EQ(flash[63], 0xFF);
    EXPECT_EQ(flash[128], 0xFF);

    // reads continue where the last one stopped
    Send(board, {':', 0x00, 0x3E});
    EXPECT_EQ(Send(board, {'}', 4}), (Bytes{0xFF, 0xFF, 1, 2}));
    EXPECT_EQ(Send(board, {'}', 2}), (Bytes{3, 4}));
    EXPECT_EQ(board.Pointer(), 0x44u);

    Send(board, {':', 0x01, 0x00});
    Send(board, {'>', 2, 0xA1, 0xA2});
    Send(board, {'>', 1, 0xA3});
    EXPECT_EQ(board.Pointer(), 0x103u);
    EXPECT_EQ(board.Chip().Eeprom()[0x102], 0xA3);
    Send(board, {':', 0x01, 0x01});
    EXPECT_EQ(Send(board, {'<', 2}), (Bytes{0xA2, 0xA3}));
}

TEST(SimBoard, ByteModeChipsTakeBlocksDirectly)
{
    // the AT89S8253 and the AT86RF401 have no pages: '{' writes each byte
    for (const char* device : {"AT89S8253", "AT86RF401"}) {
        SimBoard board(ConfigFor(device));
        OpenSession(board);
        Send(board, {':', 0, 0x10});
        EXPECT_EQ(Send(board, {'{', 3, 0x12, 0x34, 0x56}), Bytes{0x0D}) << device;
        Send(board, {':', 0, 0x10});
        EXPECT_EQ(Send(board, {'}', 3}), (Bytes{0x12, 0x34, 0x56})) << device;
        EXPECT_EQ(board.Chip().Flash()[0x11], 0x34) << device;
    }
}

TEST(SimBoard, ModePacketSwitchesTheLineAfterItsAcknowledgement)
{
    SimBoard board(ConfigFor("ATmega8/8A"));
    const Bytes packet{'#', 2, 0x81, 1};
    const std::vector<ReplyByte> reply = board.Exchange(packet.data(), packet.size(), 19200);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].byte, 0x0D);
    EXPECT_EQ(reply[0].baud, 19200);
    EXPECT_EQ(board.LineBaud(), 230400);
    EXPECT_EQ(board.ModePacket(), (std::array<uint8_t, 3>{2, 0x81, 1}));

    // at the old speed the board hears noise and stays silent
    const uint8_t sync = '%';
    EXPECT_TRUE(board.Exchange(&sync, 1, 19200).empty());
    const std::vector<ReplyByte> ok = board.Exchange(&sync, 1, 230400);
    ASSERT_EQ(ok.size(), 1u);
    EXPECT_EQ(ok[0].byte, '+');

    const Bytes back{'#', 0, 0x81, 1};
    EXPECT_EQ(board.Exchange(back.data(), back.size(), 230400).size(), 1u);
    EXPECT_EQ(board.LineBaud(), 19200);
    const int speeds[] = {19200, 115200, 230400, 460800, 921600, 19200};
    for (int index = 0; index < 6; ++index)
        EXPECT_EQ(BaudForSpeedIndex(index), speeds[index]);
}

TEST(SimBoard, ResetStrobeAndProgrammingEnable)
{
    SimBoard board(ConfigFor("ATmega8/8A"));
    Send(board, {'%', '@', '&', 2, ':', 0, 0, '#', 0, 0x82, 0});
    // without the strobe the chip is not listening
    Send(board, {'4', 0xAC, 0x53, 0x00, 0x00});
    EXPECT_EQ(Send(board, {'5', 0x30, 0x00, 0x00}), Bytes{0xFF});
    // reset held low only: still not
    Send(board, {'Q', 'L', '4', 0xAC, 0x53, 0x00, 0x00});
    EXPECT_FALSE(board.Chip().ProgrammingEnabled());
    Send(board, {'U', 'L', '4', 0xAC, 0x53, 0x00, 0x00});
    EXPECT_TRUE(board.Chip().ProgrammingEnabled());
    EXPECT_EQ(Send(board, {'5', 0x30, 0x00, 0x00}), Bytes{0x1E});
    // leaving programming mode ends it
    Send(board, {'-'});
    EXPECT_FALSE(board.Chip().ProgrammingEnabled());
}

TEST(SimBoard, At89sIsPreparedWithPlus)
{
    SimBoard board(ConfigFor("AT89S52"));
    Send(board, {'%', '@', '&', 1, ':', 0, 0, '#', 0, 0x82, 0});
    EXPECT_EQ(Send(board, {'+'}).size(), 1u);
    Send(board, {'4', 0xAC, 0x53, 0x00, 0x00});
    EXPECT_TRUE(board.Chip().ProgrammingEnabled());
    EXPECT_EQ(Send(board, {'5', 0x28, 0x01, 0x00}), Bytes{0x52});
}

TEST(SimBoard, StarAndVersionOptions)
{
    SimBoard board(ConfigFor("ATmega8/8A", "star=1,version=10b"));
    EXPECT_EQ(Send(board, {'%'}), Bytes{'*'});
    EXPECT_EQ(Send(board, {'@'}), Str("10b"));
}

TEST(SimBoard, BootloaderWithoutFirmwareTakesAValidImage)
{
    SimBoard board(ConfigFor("ATmega8/8A", "firmware=0"));
    EXPECT_TRUE(board.InBootloader());
    EXPECT_EQ(Send(board, {'%'}), Bytes{'-'});
    EXPECT_EQ(Send(board, {'@'}), Str("ldr"));
    const Bytes name = Send(board, {'?'});
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name.size(), size_t{name[0]} + 2);
    EXPECT_NE(std::string(name.begin() + 1, name.end() - 1).find("Bootloader"), std::string::npos);
    // firmware commands mean nothing to the bootloader
    EXPECT_TRUE(Send(board, {'Q'}).empty());

    const Bytes image = FirmwareImage();
    ASSERT_EQ(image.size(), kFirmwareImageSize);
    std::string version;
    ASSERT_TRUE(CheckFirmwareImage(image, &version));
    EXPECT_EQ(version, "10c");
    EXPECT_EQ(Upload(board, image), 3072u);
    EXPECT_FALSE(board.InBootloader());
    EXPECT_EQ(Send(board, {'%'}), Bytes{'+'});
    EXPECT_EQ(Send(board, {'@'}), Str("10c"));
    EXPECT_EQ(board.UploadedImage(), image);

    // a power cycle brings the bootloader back; it knows it has firmware now
    board.PowerCycle();
    EXPECT_EQ(Send(board, {'%'}), Bytes{'+'});
    EXPECT_EQ(Send(board, {'@'}), Str("ldr"));
}

TEST(SimBoard, TheVersionComesFromTheImage)
{
    SimBoard board(ConfigFor("ATmega8/8A", "bootloader=1,version=10a"));
    Bytes image = FirmwareImage();
    image[6] = 'd';  // the version is outside the checked payload
    EXPECT_EQ(Upload(board, image), 3072u);
    EXPECT_EQ(Send(board, {'@'}), Str("10d"));
}

TEST(SimBoard, ADamagedImageLeavesTheBoardWithoutFirmware)
{
    const Bytes good = FirmwareImage();
    Bytes payload = good;
    payload[100] ^= 0x01;
    Bytes magic = good;
    magic[0] = 'X';
    Bytes length = good;
    length[9] = 0x40;  // longer than the image
    for (const Bytes& image : {payload, magic, length}) {
        SimBoard board(ConfigFor("ATmega8/8A", "bootloader=1"));
        EXPECT_EQ(Upload(board, image), 3072u);
        EXPECT_TRUE(board.InBootloader());
        EXPECT_FALSE(board.HasFirmware());
        EXPECT_EQ(Send(board, {'%'}), Bytes{'-'});
    }
}

TEST(SimBoard, RunningFirmwareIgnoresTheUploadCommand)
{
    SimBoard board(ConfigFor("ATmega8/8A"));
    EXPECT_TRUE(Send(board, {'^'}).empty());
    EXPECT_EQ(Send(board, {'%'}), Bytes{'+'});
}

TEST(SimBoard, InjectedFaults)
{
    struct Case {
        const char* options;
        Bytes sent;            // sent three times
        std::vector<Bytes> replies;
    };
    const Case cases[] = {
        {"noreply=%:2", {'%'}, {{'+'}, {}, {'+'}}},
        {"noreply=0x40:1", {'@'}, {{}, Str("10c"), Str("10c")}},
        {"wrongreply=%:1:0x00", {'%'}, {{0x00}, {'+'}, {'+'}}},
        {"wrongreply=@:3", {'@'}, {Str("10c"), Str("10c"), {'1', '0', 'c' ^ 0xFF}}},
        {"wrongreply=N:1:0x00", {'N'}, {{0x20, 0x26, 0x12, 0x00, 0x01, 0x00},
                                        {0x20, 0x26, 0x12, 0x00, 0x01, 0x0D},
                                        {0x20, 0x26, 0x12, 0x00, 0x01, 0x0D}}},
        {"truncate=N:2", {'N'}, {{0x20, 0x26, 0x12, 0x00, 0x01, 0x0D},
                                 {0x20, 0x26, 0x12, 0x00, 0x01},
                                 {0x20, 0x26, 0x12, 0x00, 0x01, 0x0D}}},
        {"wrongreply=L:2", {'L'}, {{0x0D}, {0xF2}, {0x0D}}},
        {"pollfail=2", {'>', 1, 0x00}, {{0x0D}, {0x1B}, {0x0D}}},
        {"garbage=00", {'%'}, {{0x00, '+'}, {'+'}, {'+'}}},
        {"garbage=0011FF", {'%'}, {{0x00, 0x11, 0xFF, '+'}, {'+'}, {'+'}}},
    };
    for (const Case& c : cases) {
        SimBoard board(ConfigFor("ATmega8/8A", c.options));
        for (size_t i = 0; i < 3; ++i)
            EXPECT_EQ(Send(board, c.sent), c.replies[i]) << c.options << " #" << i + 1;
    }
}

TEST(SimBoard, PollingFailureCountsFlashAndEepromBlocks)
{
    SimBoard board(ConfigFor("ATmega8/8A", "pollfail=3"));
    OpenSession(board);
    EXPECT_EQ(Send(board, {'{', 1, 0x00}), Bytes{0x0D});
    EXPECT_EQ(Send(board, {'>', 1, 0x00}), Bytes{0x0D});
    EXPECT_EQ(Send(board, {'{', 1, 0x00}), Bytes{0x1B});
}

TEST(SimBoard, LongBoardName)
{
    SimBoard board(ConfigFor("ATmega8/8A", "namelen=255"));
    const Bytes reply = Send(board, {'?'});
    ASSERT_EQ(reply.size(), 257u);
    EXPECT_EQ(reply[0], 255);
    EXPECT_EQ(reply[256], 0x0D);
}

TEST(SimBoard, TraceRecordsBothDirections)
{
    SimBoard board(ConfigFor("ATmega8/8A"));
    Send(board, {'@'});
    const auto& trace = board.Trace();
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_TRUE(trace[0].fromHost);
    EXPECT_EQ(trace[0].byte, '@');
    EXPECT_FALSE(trace[3].fromHost);
    EXPECT_EQ(trace[3].byte, 'c');
    EXPECT_LE(trace[0].seconds, trace[3].seconds);
}

// Whatever arrives on the line, for every device, the board neither crashes
// nor reads or writes outside the chip's memories (the sanitizer builds watch).
TEST(SimBoard, NoiseOnTheLineIsHarmless)
{
    uint32_t state = 12345;
    auto next = [&] {
        state = state * 1103515245u + 12345u;
        return static_cast<uint8_t>(state >> 16);
    };
    for (const zelko::DeviceRecord& d : zelko::DeviceTable()) {
        SimBoard board(ConfigFor(d.name));
        board.SetTraceEnabled(false);
        OpenSession(board);
        // addresses all over the memories: set the pointer and the extended
        // address at random, then let noise do the rest
        Bytes noise;
        for (int i = 0; i < 6000; ++i) {
            const uint8_t b = next();
            if (b < 8) {
                noise.insert(noise.end(), {':', next(), next(), '4', 0x4D, 0x00, next(), 0x00});
                noise.insert(noise.end(), {'4', 0x4C, next(), next(), 0x00, '}', next()});
            } else {
                noise.push_back(b);
            }
        }
        Send(board, noise);
        EXPECT_EQ(board.Chip().Flash().size(), static_cast<size_t>(d.flashSize)) << d.name;
    }
}
