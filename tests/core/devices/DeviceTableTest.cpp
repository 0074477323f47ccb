#include <gtest/gtest.h>

#include <array>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/buffers/ProjectSettings.h"
#include "core/devices/DeviceTable.h"

namespace zelko {
namespace {

using Bytes6 = std::array<uint8_t, 6>;

struct ExpectedRecord {
    int index;
    DeviceRecord record;
};

// Whole records, chosen to cover every group, both signatures, the byte-wise
// programmed chips, the odd timing codes and the shared device numbers.
const ExpectedRecord kSpotChecks[] = {
    {0, {3, "ATtiny13/13A", 16, 1024, 64, {0x1E, 0x90, 0x07, 0x1E, 0x90, 0x07}, 0, 0xDC, 0xDC, 0xB9, 0xDC, 15, 4, 0, 2, 1}},
    {7, {3, "ATtiny43U", 32, 4096, 64, {0x1E, 0x92, 0x0C, 0x1E, 0x92, 0x0C}, 0, 0xDC, 0xDC, 0xB9, 0xDC, 5, 0, 2, 4, 47}},
    {10, {3, "ATtiny441", 8, 4096, 256, {0x1E, 0x92, 0x15, 0x1E, 0x92, 0x15}, 0, 0xDC, 0xDC, 0xA1, 0xDC, 15, 0, 3, 1, 79}},
    {24, {4, "ATmega8/8A", 32, 8192, 512, {0x1E, 0x93, 0x07, 0x1E, 0x93, 0x07}, 0, 0xDC, 0xDC, 0xDC, 0xDC, 15, 2, 12, 4, 17}},
    {26, {4, "ATmega88A/88PA", 32, 8192, 512, {0x1E, 0x93, 0x0A, 0x1E, 0x93, 0x0F}, 0, 0xDC, 0xDC, 0xDC, 0xDC, 15, 2, 25, 1, 18}},
    {29, {4, "ATmega8535", 32, 8192, 512, {0x1E, 0x93, 0x08, 0x1E, 0x93, 0x08}, 0, 0xDC, 0xDC, 0xA1, 0xC0, 15, 2, 18, 4, 20}},
    {46, {5, "ATmega3250A/3250PA", 64, 32768, 1024, {0x1E, 0x95, 0x06, 0x1E, 0x95, 0x0E}, 0, 0x96, 0xDC, 0xC0, 0xC0, 15, 2, 30, 1, 95}},
    {48, {5, "ATmega328PB", 64, 32768, 1024, {0x1E, 0x95, 0x16, 0x1E, 0x95, 0x16}, 0, 0x96, 0xDC, 0xC0, 0xC0, 15, 2, 27, 1, 47}},
    {58, {5, "ATmega649P/6490P", 128, 65536, 2048, {0x1E, 0x96, 0x0B, 0x1E, 0x96, 0x0C}, 0, 0x96, 0xDC, 0xC0, 0xC0, 15, 2, 33, 1, 95}},
    {66, {5, "ATmega256xRFR2", 128, 262144, 8192, {0x1E, 0xA8, 0x02, 0x1E, 0xA8, 0x03}, 0, 0xDC, 0xDC, 0xC0, 0xC0, 15, 2, 35, 1, 78}},
    {67, {1, "AT89S2051", 0, 2048, 0, {0x1E, 0x23, 0xFF, 0x1E, 0x23, 0xFF}, 4, 0x50, 0x50, 0xDC, 0x50, 15, 1, 23, 0, 39}},
    {70, {1, "AT89S52", 0, 8192, 0, {0x1E, 0x52, 0x06, 0x1E, 0x52, 0x06}, 4, 0x50, 0x50, 0xDC, 0x50, 15, 1, 24, 0, 42}},
    {71, {1, "AT89S8253", 0, 12288, 2048, {0x1E, 0x73, 0xFF, 0x1E, 0x73, 0xFF}, 12, 0x50, 0x50, 0xDC, 0x50, 15, 12, 28, 0, 43}},
    {72, {0, "AT86RF401", 0, 2048, 128, {0x1E, 0x91, 0x81, 0x1E, 0x91, 0x81}, 0, 0xDC, 0xDC, 0xDC, 0xDC, 15, 0, 7, 0, 44}},
    {80, {2, "AT90USB82", 64, 8192, 512, {0x1E, 0x93, 0x82, 0x1E, 0x93, 0x82}, 0, 0xDC, 0xDC, 0xC0, 0xC0, 7, 2, 37, 4, 51}},
    {84, {6, "ATA6602/6612", 32, 8192, 512, {0x1E, 0x93, 0x0A, 0x1E, 0x93, 0x0A}, 0, 0xDC, 0xDC, 0xDC, 0xDC, 15, 2, 25, 1, 74}},
    {85, {6, "ATA6603/6613", 32, 16384, 512, {0x1E, 0x94, 0x06, 0x1E, 0x94, 0x06}, 0, 0xDC, 0xDC, 0xDC, 0xDC, 15, 2, 25, 1, 75}},
};

TEST(DeviceTable, SpotCheckedRecordsHoldEveryField)
{
    ASSERT_EQ(DeviceTable().size(), 86u);
    for (const auto& [index, e] : kSpotChecks) {
        SCOPED_TRACE(e.name);
        const DeviceRecord& d = DeviceAt(index);
        EXPECT_STREQ(d.name, e.name);
        EXPECT_EQ(d.group, e.group);
        EXPECT_EQ(d.pageWords, e.pageWords);
        EXPECT_EQ(d.flashSize, e.flashSize);
        EXPECT_EQ(d.eepromSize, e.eepromSize);
        EXPECT_EQ(d.signature, e.signature);
        EXPECT_EQ(d.interfaceKind, e.interfaceKind);
        EXPECT_EQ(d.flashWriteDelayCode, e.flashWriteDelayCode);
        EXPECT_EQ(d.flashReadDelayCode, e.flashReadDelayCode);
        EXPECT_EQ(d.eepromWriteDelayCode, e.eepromWriteDelayCode);
        EXPECT_EQ(d.eepromReadDelayCode, e.eepromReadDelayCode);
        EXPECT_EQ(d.pageWriteMs, e.pageWriteMs);
        EXPECT_EQ(d.deviceCode, e.deviceCode);
        EXPECT_EQ(d.lockFuseTableIndex, e.lockFuseTableIndex);
        EXPECT_EQ(d.calibrationCount, e.calibrationCount);
        EXPECT_EQ(d.deviceNo, e.deviceNo);
    }
}

// Rules that hold across the whole table; a slipped column shows up here.
TEST(DeviceTable, RecordsAreConsistentAcrossTheTable)
{
    std::set<std::string> names;
    std::set<int> usedTables;
    for (int i = 0; i < kDeviceCount; ++i) {
        const DeviceRecord& d = DeviceAt(i);
        SCOPED_TRACE(d.name);
        EXPECT_TRUE(names.insert(d.name).second) << "duplicate name";
        EXPECT_GE(d.group, 0);
        EXPECT_LT(d.group, kGroupCount);
        EXPECT_GE(d.lockFuseTableIndex, 0);
        EXPECT_LE(d.lockFuseTableIndex, 38);
        usedTables.insert(d.lockFuseTableIndex);
        EXPECT_EQ(d.signature[0], 0x1E);
        EXPECT_EQ(d.signature[3], 0x1E);
        EXPECT_TRUE(d.calibrationCount == 0 || d.calibrationCount == 1 || d.calibrationCount == 2 ||
                    d.calibrationCount == 4);
        EXPECT_GT(d.flashSize, 0);
        if (d.pageWords > 0) {
            EXPECT_EQ(d.flashSize % (d.pageWords * 2), 0);
        }

        // The family decides how the chip is addressed and what the board is told.
        switch (d.interfaceKind) {
        case kInterfaceAvr: {
            EXPECT_NE(d.group, 1);
            // ATtiny13 has a code of its own; the other ATtiny and the AT86RF401 share 0.
            const int code = std::string(d.name) == "ATtiny13/13A" ? 4 : (d.group == 3 || d.group == 0 ? 0 : 2);
            EXPECT_EQ(d.deviceCode, code);
            break;
        }
        case kInterfaceAt89s:
            EXPECT_EQ(d.group, 1);
            EXPECT_EQ(d.deviceCode, 1);
            EXPECT_EQ(d.eepromSize, 0);
            EXPECT_EQ(d.pageWords, 0);
            break;
        case kInterfaceAt89s8253:
            EXPECT_STREQ(d.name, "AT89S8253");
            EXPECT_EQ(d.deviceCode, 12);
            EXPECT_EQ(d.pageWords, 0);
            break;
        default:
            ADD_FAILURE() << "interface kind " << d.interfaceKind;
        }
    }
    EXPECT_EQ(usedTables.count(36), 0u) << "table 36 belongs to no device";
    EXPECT_EQ(usedTables.size(), 38u) << "every other table has a device";
}

TEST(DeviceTable, DeviceNumbersAreUniqueExceptTheTwoSharedPairs)
{
    std::map<int, std::vector<std::string>> byNumber;
    for (const DeviceRecord& d : DeviceTable()) byNumber[d.deviceNo].push_back(d.name);
    for (const auto& [no, devices] : byNumber) {
        if (no == 47)
            EXPECT_EQ(devices, (std::vector<std::string>{"ATtiny43U", "ATmega328PB"}));
        else if (no == 95)
            EXPECT_EQ(devices, (std::vector<std::string>{"ATmega3250A/3250PA", "ATmega649P/6490P"}));
        else
            EXPECT_EQ(devices.size(), 1u) << "device number " << no;
    }
}

TEST(DeviceTable, FindBySignature)
{
    struct Case {
        int s0, s1, s2;
        int expected;
    };
    const Case cases[] = {
        {0x1E, 0x90, 0x07, 0},   // first record
        {0x1E, 0x93, 0x0F, 26},  // ATmega88PA through signature B
        {0x1E, 0x93, 0x0A, 26},  // shared with ATA6602/6612: the earlier record wins
        {0x1E, 0x94, 0x06, 36},  // shared with ATA6603/6613
        {0x1E, 0x94, 0x0B, 36},
        {0x1E, 0xA8, 0x03, 66},  // signature B of the last ATmega
        {0x1E, 0x73, 0xFF, 71},
        {0x1E, 0x94, 0x88, 32},
        {0x1F, 0x93, 0x0A, -1},  // passes the first byte, matches nothing
        {0x1F, 0xFF, 0xFF, -1},
        {0x00, 0x01, 0x02, -1},  // what a locked AVR answers
        {0xFF, 0xFF, 0xFF, -1},
        {0x1E, 0x00, 0x00, -1},
        {0x1E, 0xFF, 0xFF, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindBySignature(c.s0, c.s1, c.s2), c.expected)
            << std::hex << c.s0 << " " << c.s1 << " " << c.s2;

    // Every chip is found by either of its signatures, as itself or as an
    // earlier record with the same signature.
    for (int i = 0; i < kDeviceCount; ++i) {
        const auto& s = DeviceAt(i).signature;
        for (int half = 0; half < 2; ++half) {
            const int found = FindBySignature(s[half * 3], s[half * 3 + 1], s[half * 3 + 2]);
            ASSERT_GE(found, 0) << DeviceAt(i).name;
            EXPECT_LE(found, i) << DeviceAt(i).name;
        }
    }
    EXPECT_NE(FindBySignature(0x1E, 0x93, 0x0A), FindByName("ATA6602/6612"));
}

TEST(DeviceTable, FindByDeviceNoAndName)
{
    EXPECT_EQ(FindByDeviceNo(1), 0);
    EXPECT_EQ(FindByDeviceNo(17), 24);
    EXPECT_EQ(FindByDeviceNo(47), 7);   // ATtiny43U, not ATmega328PB
    EXPECT_EQ(FindByDeviceNo(95), 46);  // ATmega3250A/3250PA, not ATmega649P/6490P
    EXPECT_EQ(FindByDeviceNo(88), 25);
    for (int unused : {0, -1, 65, 71, 89, 93, 96, 100000}) EXPECT_EQ(FindByDeviceNo(unused), 0) << unused;
    for (int i = 0; i < kDeviceCount; ++i) {
        if (i == 48 || i == 58) continue;  // the later record of a shared number
        EXPECT_EQ(FindByDeviceNo(DeviceAt(i).deviceNo), i) << DeviceAt(i).name;
    }

    EXPECT_EQ(FindByName("AT89S8253"), 71);
    EXPECT_EQ(FindByName("ATmega8/8A"), 24);
    EXPECT_EQ(FindByName("ATmega8"), -1);
    EXPECT_EQ(FindByName("atmega8/8a"), -1);
    EXPECT_EQ(FindByName(""), -1);
}

TEST(DeviceTable, GroupsInOrder)
{
    const char* expected[kGroupCount] = {"AT86...",        "AT89S...",       "AT90...", "ATtiny...",
                                         "ATmega_sub1...", "ATmega_sub2...", "ATA..."};
    int total = 0;
    for (int g = 0; g < kGroupCount; ++g) {
        EXPECT_STREQ(GroupName(g), expected[g]);
        total += DeviceCountInGroup(g);
    }
    EXPECT_EQ(total, kDeviceCount);
    EXPECT_STREQ(GroupName(-1), "");
    EXPECT_STREQ(GroupName(7), "");
    EXPECT_EQ(DeviceCountInGroup(7), 0);
}

TEST(DeviceTable, GroupListsKeepTableOrder)
{
    auto listOf = [](int group) {
        std::vector<std::string> names;
        for (int k = 0; k < DeviceCountInGroup(group); ++k) names.push_back(DeviceAt(DeviceInGroup(group, k)).name);
        return names;
    };
    const auto tiny = listOf(3);
    ASSERT_EQ(tiny.size(), 22u);
    EXPECT_EQ(std::vector<std::string>(tiny.begin(), tiny.begin() + 3),
              (std::vector<std::string>{"ATtiny13/13A", "ATtiny2313/2313A", "ATtiny24/24A"}));
    EXPECT_EQ(std::vector<std::string>(tiny.end() - 2, tiny.end()),
              (std::vector<std::string>{"ATtiny1634", "ATtiny167"}));
    EXPECT_EQ(listOf(0), (std::vector<std::string>{"AT86RF401"}));
    EXPECT_EQ(listOf(1), (std::vector<std::string>{"AT89S2051", "AT89S4051", "AT89S51", "AT89S52", "AT89S8253"}));
    EXPECT_EQ(listOf(6), (std::vector<std::string>{"ATA6602/6612", "ATA6603/6613"}));
    EXPECT_EQ(listOf(2).front(), "AT90CAN32");
    EXPECT_EQ(listOf(4).back(), "ATmega169A/169PA");
    EXPECT_EQ(listOf(5).front(), "ATmega32/32A");

    // Selecting by index and reading back the k-th device agree for every device,
    // and each group's indexes increase.
    for (int i = 0; i < kDeviceCount; ++i) {
        const int g = DeviceAt(i).group;
        const int k = PositionInGroup(i);
        EXPECT_EQ(DeviceInGroup(g, k), i);
        if (k > 0) {
            EXPECT_LT(DeviceInGroup(g, k - 1), i);
        }
    }
    EXPECT_EQ(DeviceInGroup(3, 22), -1);
    EXPECT_EQ(DeviceInGroup(3, -1), -1);
    EXPECT_EQ(DeviceInGroup(9, 0), -1);
    EXPECT_EQ(PositionInGroup(-1), -1);
    EXPECT_EQ(PositionInGroup(86), -1);
}

TEST(DeviceTable, OutOfRangeIndexDoesNotReadPastTheTable)
{
    EXPECT_STREQ(DeviceAt(-1).name, DeviceAt(0).name);
    EXPECT_STREQ(DeviceAt(86).name, DeviceAt(0).name);
}

TEST(ProjectSettings, FreshRecordDefaults)
{
    const ProjectSettings p;
    EXPECT_STREQ(DeviceAt(p.DeviceIndex).name, "ATmega8/8A");
    EXPECT_EQ(p.ProjectFile, "[Unspecified]");
    EXPECT_EQ(p.Log, "");
    EXPECT_EQ(p.SPIPeriod, 4);
    EXPECT_EQ(p.ResetStrobeLength, 20);
    EXPECT_EQ(p.DelayByteValue, 15);
    EXPECT_EQ(p.DelayPageValue, 15);
    EXPECT_EQ(p.DelayByteValue2, 10);
    EXPECT_EQ(p.DelayPageValue2, 10);
    const bool flags[] = {p.OverwriteLog, p.Modified, p.FlashInvert, p.Polling, p.CheckSign, p.NoSynchronization,
                          p.AutoErase, p.AutoEmptyCheck, p.AutoFlashReload, p.AutoFlashProgram, p.AutoFlashVerify,
                          p.AutoEepromReload, p.AutoEepromProgram, p.AutoEepromVerify, p.AutoIncrementFlash,
                          p.AutoIncrement, p.ProgramFuse, p.ProgramFuseBeforeAll, p.DelayByte, p.DelayPage,
                          p.DelayByte2, p.DelayPage2};
    for (bool f : flags) EXPECT_FALSE(f);
    EXPECT_EQ(p.AutoIncAddressFlash, 0);
    EXPECT_EQ(p.AutoIncAddress, 0);
    EXPECT_EQ(p.LockFuse, LockFuseSettings{});
    EXPECT_FALSE(p.LockFuse.readable);
    EXPECT_EQ(p.LockFuse.lockMode, 0);
}

}  // namespace
}  // namespace zelko
