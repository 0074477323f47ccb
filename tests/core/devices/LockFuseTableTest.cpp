#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <array>
#include <map>
#include <string>

#include "core/app/Messages.h"
#include "core/devices/DeviceTable.h"
#include "core/devices/LockFuseTable.h"

namespace zelko {
namespace {

using Instruction = std::array<uint8_t, 4>;

bool IsSpecial(int table)
{
    return table == 7 || table == 23 || table == 24 || table == 28;
}

std::string FuseNames(const LockFuseTable& t)
{
    std::string out;
    for (int i = 0; i < t.fuseCount; ++i) {
        if (i) out += ',';
        out += t.fuseNames[i];
    }
    return out;
}

// Recommendations in fuse order, e.g. "SPIEN+ RSTDISBL-".
std::string Recommendations(const LockFuseTable& t)
{
    std::string out;
    for (int i = 0; i < t.fuseCount; ++i) {
        if (t.recommended[i] == 0) continue;
        if (!out.empty()) out += ' ';
        out += std::string(t.fuseNames[i]) + (t.recommended[i] > 0 ? "+" : "-");
    }
    return out;
}

LockFuseSettings WithFuses(std::initializer_list<int> programmed)
{
    LockFuseSettings s;
    for (int i : programmed) s.fuses[i] = 1;
    return s;
}

TEST(LockFuseTable, CountsAndRecommendationsOfEveryTable)
{
    struct Row {
        int table, fuseCount, bootLockCount;
        const char* recommended;
    };
    const Row rows[] = {
        {0, 13, 0, "SPIEN+ RSTDISBL-"},
        {1, 17, 4, "RSTDISBL- SPIEN+"},
        {2, 17, 4, "SPIEN+ RSTDISBL-"},
        {3, 24, 4, "SPIEN+ RSTDISBL-"},
        {4, 24, 4, "SPIEN+ RSTDISBL-"},
        {5, 21, 4, "SPIEN+ RSTDISBL-"},
        {6, 17, 4, "SPIEN+ RSTDISBL-"},
        {7, 0, 0, ""},
        {8, 13, 0, ""},
        {9, 17, 4, "SPIEN+ RSTDISBL-"},
        {10, 17, 4, "SPIEN+ RSTDISBL-"},
        {11, 20, 4, "SPIEN+"},
        {12, 16, 4, "SPIEN+ RSTDISBL-"},
        {13, 16, 4, "SPIEN+"},
        {14, 22, 4, "SPIEN+ RSTDISBL-"},
        {15, 20, 4, "CKSEL0+ SUT1+ CKDIV8+ BOOTSZ0+ BOOTSZ1+ SPIEN+ JTAGEN+ BODLEVEL2+ HWBE+"},
        {16, 16, 4, "SPIEN+"},
        {17, 16, 4, "SPIEN+"},
        {18, 16, 4, "SPIEN+"},
        {19, 20, 4, "SPIEN+"},
        {20, 18, 4, "SPIEN+"},
        {21, 20, 4, "SPIEN+ JTAGEN+ RSTDISBL-"},
        {22, 18, 4, "SPIEN+ JTAGEN+"},
        {23, 0, 0, ""},
        {24, 0, 0, ""},
        {25, 19, 4, "SPIEN+ RSTDISBL-"},
        {26, 19, 4, "CKSEL0+ CKSEL2+ CKSEL3+ RSTDISBL-"},
        {27, 20, 4, "CKDIV8+ SPIEN+ CFD+"},
        {28, 4, 0, "SerialPrgEn+"},
        {29, 20, 4, "SPIEN+"},
        {30, 20, 4, "SPIEN+ JTAGEN+ RSTDISBL-"},
        {31, 24, 4, "SPIEN+ RSTDISBL-"},
        {32, 19, 4, "SPIEN+"},
        {33, 19, 4, "SPIEN+ RSTDISBL-"},
        {34, 20, 4, "CKDIV8+ SPIEN+ JTAGEN+ CFD+"},
        {35, 19, 4, "SPIEN+"},
        {36, 19, 4, "SPIEN+"},
        {37, 20, 4, "SPIEN+ RSTDISBL-"},
        {38, 24, 4, "CKDIV8+ SPIEN+ RSTDISBL-"},
    };
    static_assert(std::size(rows) == kLockFuseTableCount);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.table);
        const LockFuseTable& t = LockFuseTableAt(r.table);
        EXPECT_EQ(t.fuseCount, r.fuseCount);
        EXPECT_EQ(t.bootLockCount, r.bootLockCount);
        EXPECT_EQ(Recommendations(t), r.recommended);
        EXPECT_EQ(t.high.present, !IsSpecial(r.table) && r.fuseCount > 8);
        EXPECT_EQ(t.extended.present, !IsSpecial(r.table) && r.fuseCount > 16);
        EXPECT_EQ(t.lockReadable, r.table != 7);
        EXPECT_EQ(t.lowReadable, r.fuseCount > 0);
    }
}

TEST(LockFuseTable, FuseNamesOfTheIrregularFamilies)
{
    const std::map<int, std::string> expected = {
        {0, "CKSEL0,CKSEL1,SUT0,SUT1,CKDIV8,WDTON,EESAVE,SPIEN,RSTDISBL,BODLEVEL0,BODLEVEL1,DWEN,SPMEN"},
        {1, "CKSEL0,CKSEL1,CKSEL2,CKSEL3,SUT0,SUT1,CKOUT,CKDIV8,RSTDISBL,BODLEVEL0,BODLEVEL1,BODLEVEL2,WDTON,"
            "SPIEN,EESAVE,DWEN,SPMEN"},
        {3, "CKSEL0,CKSEL1,CKSEL2,CKSEL3,SUT,_EMPTY_,CKOUT,CKDIV8,BODLEVEL0,BODLEVEL1,BODLEVEL2,EESAVE,WDTON,"
            "SPIEN,DWEN,RSTDISBL,SELFPRGEN,BODACT0,BODACT1,BODPD0,BODPD1,ULPOSCSEL0,ULPOSCSEL1,ULPOSCSEL2"},
        {4, "CKSEL0,CKSEL1,_EMPTY_,_EMPTY_,SUT0,SUT1,CKOUT,CKDIV8,BODLEVEL0,BODLEVEL1,BODLEVEL2,EESAVE,WDTON,"
            "SPIEN,DWEN,RSTDISBL,BOOTRST,BOOTSZ0,BOOTSZ1,_EMPTY_,BODACT0,BODACT1,BODPD0,BODPD1"},
        {8, "CKSEL0,CKSEL1,CKSEL2,CKSEL3,SUT0,SUT1,CKOPT,PLLCK,BODEN,BODLEVEL,EESAVE,SPIEN,RSTDISBL"},
        {17, "CKSEL0,CKSEL1,CKSEL2,CKSEL3,SUT0,SUT1,BODEN,BODLEVEL,BOOTRST,BOOTSZ0,BOOTSZ1,EESAVE,CKOPT,SPIEN,"
             "WDTON,S8515C"},
        {19, "CKSEL0,CKSEL1,CKSEL2,CKSEL3,SUT0,SUT1,CKOUT,CKDIV8,BOOTRST,BOOTSZ0,BOOTSZ1,EESAVE,WDTON,SPIEN,"
             "JTAGEN,OCDEN,_EMPTY_,BODLEVEL0,BODLEVEL1,BODLEVEL2"},
        {20, "CKSEL0,CKSEL1,CKSEL2,CKSEL3,SUT0,SUT1,BODEN,BODLEVEL,BOOTRST,BOOTSZ0,BOOTSZ1,EESAVE,CKOPT,SPIEN,"
             "JTAGEN,OCDEN,WDTON,M103C"},
        {28, "SerialPrgEn,x2 Clock En,UsrRowPrgEn,Extern Clock En"},
        {33, "CKSEL0,CKSEL1,CKSEL2,CKSEL3,SUT0,SUT1,CKOUT,CKDIV8,BOOTRST,BOOTSZ0,BOOTSZ1,EESAVE,WDTON,SPIEN,"
             "JTAGEN,OCDEN,RSTDISBL,BODLEVEL0,BODLEVEL1"},
        {37, "CKSEL0,CKSEL1,CKSEL2,CKSEL3,SUT0,SUT1,CKOUT,CKDIV8,BOOTRST,BOOTSZ0,BOOTSZ1,EESAVE,WDTON,SPIEN,"
             "RSTDISBL,DWEN,BODLEVEL0,BODLEVEL1,BODLEVEL2,HWBE"},
        {38, "CKSEL0,CKSEL1,CKSEL2,CKSEL3,SUT0,SUT1,CKOUT,CKDIV8,BODLEVEL0,BODLEVEL1,BODLEVEL2,EESAVE,WDTON,"
             "SPIEN,DWEN,RSTDISBL,BOOTRST,BOOTSZ0,BOOTSZ1,_EMPTY_,PSCRV,PSC0RB,PSC1RB,PSC2RB"},
    };
    for (const auto& [table, names] : expected) EXPECT_EQ(FuseNames(LockFuseTableAt(table)), names) << table;
    // Names past the fuse count are never shown, but must not be null either.
    for (int n = 0; n < kLockFuseTableCount; ++n)
        for (const char* name : LockFuseTableAt(n).fuseNames) ASSERT_NE(name, nullptr) << n;
}

// Where each bit sits is what Program and Read rely on; check the layout of
// every AVR family rather than a sample.
TEST(LockFuseTable, AvrFamiliesFollowTheSharedLayout)
{
    const Instruction lock{0xAC, 0xFF, 0xFF, 0xFF}, low{0xAC, 0xA0, 0xFF, 0xFF}, high{0xAC, 0xA8, 0xFF, 0xFF},
        ext{0xAC, 0xA4, 0xFF, 0xFF};
    const Instruction lock0{0xAC, 0xFF, 0x00, 0xFF}, low0{0xAC, 0xA0, 0x00, 0xFF}, high0{0xAC, 0xA8, 0x00, 0xFF},
        ext0{0xAC, 0xA4, 0x00, 0xFF}, lockE0{0xAC, 0xE0, 0xFF, 0xFF}, lockE00{0xAC, 0xE0, 0x00, 0xFF};
    const std::map<int, std::array<Instruction, 4>> variants = {
        {2, {lock0, low0, high0, ext0}},  {3, {lock, low0, high0, ext0}}, {4, {lock, low0, high0, ext0}},
        {5, {lock, low0, high0, ext0}},   {6, {lockE0, low, high, ext}},  {10, {lock, low, high0, ext}},
        {25, {lock, low, high0, ext}},    {35, {lockE00, low0, high0, ext0}},
    };
    for (int n = 0; n < kLockFuseTableCount; ++n) {
        if (IsSpecial(n)) continue;
        SCOPED_TRACE(n);
        const LockFuseTable& t = LockFuseTableAt(n);
        const auto v = variants.count(n) ? variants.at(n) : std::array<Instruction, 4>{lock, low, high, ext};
        EXPECT_EQ(t.lockWriteInstruction, v[0]);
        EXPECT_EQ(t.lowWriteInstruction, v[1]);
        EXPECT_EQ(t.high.writeInstruction, v[2]);
        EXPECT_EQ(t.extended.writeInstruction, v[3]);

        EXPECT_EQ(t.lockWriteBits[0].byteIndex, 3);
        EXPECT_EQ(t.lockWriteBits[0].bit, 0);
        EXPECT_EQ(t.lockWriteBits[1].byteIndex, 3);
        EXPECT_EQ(t.lockWriteBits[1].bit, 1);
        EXPECT_FALSE(t.lockWriteBits[2].used());
        EXPECT_EQ(t.lockReadInstruction, (std::array<uint8_t, 3>{0x58, 0x00, 0x00}));
        EXPECT_EQ(t.lockReadBits, (std::array<int32_t, 3>{0, 1, -1}));
        EXPECT_EQ(t.lowReadInstruction, (std::array<uint8_t, 3>{0x50, 0x00, 0x00}));
        EXPECT_EQ(t.high.readInstruction[0], 0x58);
        EXPECT_EQ(t.high.readInstruction[1], 0x08);
        EXPECT_EQ(t.high.readInstruction[2], 0x00);
        EXPECT_EQ(t.extended.readInstruction[0], 0x50);
        EXPECT_EQ(t.extended.readInstruction[1], 0x08);
        EXPECT_EQ(t.extended.readInstruction[2], 0x00);

        for (int i = 0; i < 32; ++i) {
            const int byte = i < t.fuseCount ? i / 8 : -1;
            const BitPlace* places[3] = {&t.lowWriteBits[i], &t.high.writeBits[i], &t.extended.writeBits[i]};
            const int32_t reads[3] = {t.lowReadBits[i], t.high.readBits[i], t.extended.readBits[i]};
            const bool unread = (n == 3 || n == 5) && i == 5;
            for (int b = 0; b < 3; ++b) {
                if (b == byte) {
                    EXPECT_EQ(places[b]->byteIndex, 3) << "fuse " << i;
                    EXPECT_EQ(places[b]->bit, i % 8) << "fuse " << i;
                    EXPECT_EQ(reads[b], unread ? -1 : i % 8) << "fuse " << i;
                } else {
                    EXPECT_FALSE(places[b]->used()) << "fuse " << i << " byte " << b;
                    EXPECT_EQ(reads[b], -1) << "fuse " << i << " byte " << b;
                }
            }
        }
        if (t.bootLockCount == 4) {
            EXPECT_EQ(t.bootLockBits, (std::array<int32_t, 4>{2, 3, 4, 5}));
            EXPECT_STREQ(t.bootLockNames[0], "BLB01");
            EXPECT_STREQ(t.bootLockNames[1], "BLB02");
            EXPECT_STREQ(t.bootLockNames[2], "BLB11");
            EXPECT_STREQ(t.bootLockNames[3], "BLB12");
        }
    }
}

TEST(LockFuseTable, SpecialTables)
{
    const LockFuseTable& rf = LockFuseTableAt(7);
    EXPECT_EQ(rf.lockWriteInstruction, (Instruction{0xAC, 0xE0, 0x00, 0x00}));
    EXPECT_EQ(rf.lockWriteBits[0].byteIndex, 1);
    EXPECT_EQ(rf.lockWriteBits[0].bit, 1);
    EXPECT_EQ(rf.lockWriteBits[1].byteIndex, 1);
    EXPECT_EQ(rf.lockWriteBits[1].bit, 2);
    EXPECT_FALSE(rf.lockWriteBits[2].used());
    EXPECT_FALSE(rf.lockReadable);

    for (int n : {23, 24}) {
        const LockFuseTable& t = LockFuseTableAt(n);
        EXPECT_EQ(t.lockWriteInstruction, (Instruction{0xAC, 0xE0, 0x00, 0x00})) << n;
        EXPECT_TRUE(t.lockReadable);
    }
    EXPECT_EQ(LockFuseTableAt(23).lockReadInstruction, (std::array<uint8_t, 3>{0x24, 0xFF, 0xFF}));
    EXPECT_EQ(LockFuseTableAt(24).lockReadInstruction, (std::array<uint8_t, 3>{0x24, 0x00, 0x00}));

    const LockFuseTable& s8253 = LockFuseTableAt(28);
    EXPECT_EQ(s8253.lockWriteInstruction, (Instruction{0xAC, 0xE7, 0xFF, 0xFF}));
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(s8253.lockWriteBits[k].byteIndex, 1);
        EXPECT_EQ(s8253.lockWriteBits[k].bit, 2 - k);
    }
    EXPECT_TRUE(s8253.lockReadable);
    EXPECT_EQ(s8253.lockReadInstruction, (std::array<uint8_t, 3>{0x24, 0xFF, 0xFF}));
    EXPECT_EQ(s8253.lowWriteInstruction, (Instruction{0xAC, 0x1F, 0xFF, 0xFF}));
    EXPECT_EQ(s8253.lowReadInstruction, (std::array<uint8_t, 3>{0x21, 0xFF, 0xFF}));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(s8253.lowWriteBits[i].byteIndex, 1);
        EXPECT_EQ(s8253.lowWriteBits[i].bit, i);
        EXPECT_EQ(s8253.lowReadBits[i], i);
    }

    // No table here has fuses outside the low byte or boot lock bits.
    for (int n : {7, 23, 24, 28}) {
        const LockFuseTable& t = LockFuseTableAt(n);
        EXPECT_FALSE(t.high.present) << n;
        EXPECT_FALSE(t.extended.present) << n;
        EXPECT_EQ(t.bootLockCount, 0) << n;
    }
}

TEST(LockFuseTable, FillWriteInstructions)
{
    struct Case {
        int table;
        FuseByte which;
        LockFuseSettings settings;
        Instruction expected;
    };
    // Table 2 and 35 carry 00 in byte 2; the fuse bits only ever touch byte 3.
    const LockFuseSettings tiny24 = WithFuses({0, 13, 16});  // CKSEL0, SPIEN, SELFPRGEN
    const Case cases[] = {
        {2, FuseByte::Low, tiny24, {0xAC, 0xA0, 0x00, 0xFE}},
        {2, FuseByte::High, tiny24, {0xAC, 0xA8, 0x00, 0xDF}},
        {2, FuseByte::Extended, tiny24, {0xAC, 0xA4, 0x00, 0xFE}},
        {2, FuseByte::Low, WithFuses({13, 15}), {0xAC, 0xA0, 0x00, 0xFF}},  // high fuses leave low alone
        {35, FuseByte::Low, WithFuses({7}), {0xAC, 0xA0, 0x00, 0x7F}},
        {35, FuseByte::High, WithFuses({8, 9, 10, 13}), {0xAC, 0xA8, 0x00, 0xD8}},
        {35, FuseByte::Extended, WithFuses({17, 18}), {0xAC, 0xA4, 0x00, 0xF9}},
        {25, FuseByte::Low, WithFuses({4}), {0xAC, 0xA0, 0xFF, 0xEF}},
        {25, FuseByte::High, WithFuses({13}), {0xAC, 0xA8, 0x00, 0xDF}},
        {6, FuseByte::High, WithFuses({13}), {0xAC, 0xA8, 0xFF, 0xDF}},
        // The unread _EMPTY_ bit is still written with its state.
        {3, FuseByte::Low, WithFuses({5}), {0xAC, 0xA0, 0x00, 0xDF}},
        {5, FuseByte::Low, WithFuses({5, 7}), {0xAC, 0xA0, 0x00, 0x5F}},
        {4, FuseByte::Low, WithFuses({2, 3}), {0xAC, 0xA0, 0x00, 0xF3}},
        {4, FuseByte::Extended, WithFuses({19}), {0xAC, 0xA4, 0x00, 0xF7}},
        // Fuses at or past the count are not written.
        {0, FuseByte::High, WithFuses({13, 14, 15}), {0xAC, 0xA8, 0xFF, 0xFF}},
        {28, FuseByte::Low, WithFuses({0, 2}), {0xAC, 0x1A, 0xFF, 0xFF}},
        {28, FuseByte::Low, WithFuses({1, 2, 3, 4, 5}), {0xAC, 0x11, 0xFF, 0xFF}},
        {28, FuseByte::Low, LockFuseSettings{}, {0xAC, 0x1F, 0xFF, 0xFF}},
        {7, FuseByte::Low, WithFuses({0, 1, 2}), {0x00, 0x00, 0x00, 0x00}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FillFuseWriteInstruction(LockFuseTableAt(c.table), c.which, c.settings), c.expected)
            << "table " << c.table << " byte " << static_cast<int>(c.which);

    // Bits that no fuse names keep the template's value, whatever it is.
    LockFuseTable t = LockFuseTableAt(0);
    t.high.writeInstruction = {0x12, 0x34, 0x56, 0x00};
    EXPECT_EQ(FillFuseWriteInstruction(t, FuseByte::High, WithFuses({9, 13, 14})),
              (Instruction{0x12, 0x34, 0x56, 0x1D}));

    // A state other than 0 or 1 (a hand-edited project) counts as programmed.
    LockFuseSettings odd;
    odd.fuses[13] = 2;
    EXPECT_EQ(FillFuseWriteInstruction(LockFuseTableAt(2), FuseByte::High, odd)[3], 0xDF);
}

TEST(LockFuseTable, DecodeFactoryDefaultsOfAnAttiny24)
{
    const LockFuseTable& t = LockFuseTableAt(2);
    LockFuseSettings s;
    s.fuses[13] = 1;
    s.fuses[31] = 1;  // past the fuse count: never touched
    DecodeFuseByte(t, FuseByte::Low, 0x62, s);
    EXPECT_EQ(s.fuses[13], 0) << "the low byte settles every fuse";
    DecodeFuseByte(t, FuseByte::High, 0xDF, s);
    DecodeFuseByte(t, FuseByte::Extended, 0xFF, s);
    LockFuseSettings expected = WithFuses({0, 2, 3, 4, 7, 13, 31});
    EXPECT_EQ(s, expected);
}

TEST(LockFuseTable, FillThenDecodeGivesTheStatesBackOnEveryAvrFamily)
{
    for (int n = 0; n < kLockFuseTableCount; ++n) {
        if (IsSpecial(n)) continue;
        const LockFuseTable& t = LockFuseTableAt(n);
        for (int pattern = 0; pattern < 4; ++pattern) {
            SCOPED_TRACE(testing::Message() << "table " << n << " pattern " << pattern);
            LockFuseSettings wanted;
            for (int i = 0; i < t.fuseCount; ++i)
                wanted.fuses[i] = pattern == 0 ? 0 : pattern == 1 ? 1 : pattern == 2 ? i % 2 : (i % 3 == 0);

            LockFuseSettings read;
            read.fuses.fill(1);
            DecodeFuseByte(t, FuseByte::Low, FillFuseWriteInstruction(t, FuseByte::Low, wanted)[3], read);
            if (t.high.present)
                DecodeFuseByte(t, FuseByte::High, FillFuseWriteInstruction(t, FuseByte::High, wanted)[3], read);
            if (t.extended.present)
                DecodeFuseByte(t, FuseByte::Extended, FillFuseWriteInstruction(t, FuseByte::Extended, wanted)[3],
                               read);
            for (int i = 0; i < 32; ++i) {
                const bool unread = (n == 3 || n == 5) && i == 5;
                const int expected = i >= t.fuseCount ? 1 : unread ? 0 : wanted.fuses[i];
                EXPECT_EQ(read.fuses[i], expected) << "fuse " << i;
            }
        }
    }
}

TEST(LockFuseTable, DecodeSpecialTables)
{
    LockFuseSettings s;
    DecodeFuseByte(LockFuseTableAt(28), FuseByte::Low, 0x0A, s);
    EXPECT_EQ(s, WithFuses({0, 2}));
    DecodeFuseByte(LockFuseTableAt(28), FuseByte::Low, 0xF0, s);
    EXPECT_EQ(s, WithFuses({0, 1, 2, 3}));

    // No fuses: a stray byte changes nothing.
    for (int n : {7, 23, 24}) {
        LockFuseSettings all;
        all.fuses.fill(1);
        DecodeFuseByte(LockFuseTableAt(n), FuseByte::Low, 0x00, all);
        for (uint8_t f : all.fuses) EXPECT_EQ(f, 1) << n;
    }

    // Table 4's _EMPTY_ bits are read back like any other bit.
    LockFuseSettings t4;
    DecodeFuseByte(LockFuseTableAt(4), FuseByte::Low, 0xF3, t4);
    EXPECT_EQ(t4, WithFuses({2, 3}));
    // Table 3's is not: a read reports it unprogrammed.
    LockFuseSettings t3;
    t3.fuses[5] = 1;
    DecodeFuseByte(LockFuseTableAt(3), FuseByte::Low, 0x00, t3);
    EXPECT_EQ(t3, WithFuses({0, 1, 2, 3, 4, 6, 7}));
}

TEST(LockFuseTable, DecodeBootLocks)
{
    struct Case {
        uint8_t lockByte;
        std::array<uint8_t, 4> expected;
    };
    const Case cases[] = {
        {0xFF, {0, 0, 0, 0}},
        {0xC3, {1, 1, 1, 1}},
        {0xEB, {1, 0, 1, 0}},  // bits 2 and 4 programmed
        {0xFC, {0, 0, 0, 0}},  // LB1/LB2 are not boot lock bits
        {0xDF, {0, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        LockFuseSettings s;
        s.bootLocks[4] = 1;
        DecodeBootLocks(LockFuseTableAt(35), c.lockByte, s);
        EXPECT_EQ((std::array<uint8_t, 4>{s.bootLocks[0], s.bootLocks[1], s.bootLocks[2], s.bootLocks[3]}),
                  c.expected)
            << std::hex << int(c.lockByte);
        EXPECT_EQ(s.bootLocks[4], 1);
    }
    LockFuseSettings none;
    none.bootLocks.fill(1);
    DecodeBootLocks(LockFuseTableAt(0), 0xFF, none);  // ATtiny13: no boot lock bits
    for (uint8_t b : none.bootLocks) EXPECT_EQ(b, 1);
}

TEST(LockFuseTable, LockModeNamesByFamilyAndLanguage)
{
    const char* avr[] = {"No", "LB1: Write protect", "LB1+LB2: R&&W protect", "LB1+LB2+LB3 (89S only)"};
    const char* at89[] = {"No locking", "LB1", "LB1+LB2", "LB1+LB2+LB3"};
    for (int mode = 0; mode < 4; ++mode) {
        EXPECT_STREQ(LockModeName(kInterfaceAvr, mode), avr[mode]);
        EXPECT_STREQ(LockModeName(kInterfaceAt89s, mode), at89[mode]);
        EXPECT_STREQ(LockModeName(kInterfaceAt89s8253, mode), at89[mode]);
    }
    {
        test::LanguageScope russian(true);
        for (int mode = 0; mode < 4; ++mode) {
            EXPECT_STREQ(LockModeName(kInterfaceAvr, mode), Translate(1006 + mode));
            EXPECT_STREQ(LockModeName(kInterfaceAt89s8253, mode), Translate(1010 + mode));
        }
    }
    // A lock mode from a damaged project file gets no name rather than another message's text.
    EXPECT_STREQ(LockModeName(kInterfaceAvr, 4), "");
    EXPECT_STREQ(LockModeName(kInterfaceAvr, -1), "");
}

TEST(LockFuseTable, RecommendedPresets)
{
    // Table 15: nine recommendations, all "programmed".
    LockFuseSettings s;
    s.fuses[1] = 1;
    ApplyRecommendedPresets(LockFuseTableAt(15), s);
    EXPECT_EQ(s, WithFuses({0, 1, 5, 7, 9, 10, 13, 14, 18, 19}));

    // Table 2: SPIEN set, RSTDISBL cleared, the rest keep their states.
    LockFuseSettings all;
    all.fuses.fill(1);
    ApplyRecommendedPresets(LockFuseTableAt(2), all);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(all.fuses[i], i == 15 ? 0 : 1) << i;

    // The ATtiny26 family recommends nothing.
    LockFuseSettings tiny26 = WithFuses({3, 12});
    ASSERT_EQ(DeviceAt(FindByName("ATtiny26")).lockFuseTableIndex, 8);
    ApplyRecommendedPresets(LockFuseTableAt(8), tiny26);
    EXPECT_EQ(tiny26, WithFuses({3, 12}));

    // A recommendation past the fuse count has no effect.
    LockFuseTable t = LockFuseTableAt(8);
    t.recommended[15] = +1;
    t.recommended[20] = -1;
    LockFuseSettings beyond = WithFuses({20});
    ApplyRecommendedPresets(t, beyond);
    EXPECT_EQ(beyond, WithFuses({20}));
}

TEST(LockFuseSettings, EqualityComparesEverythingButReadable)
{
    LockFuseSettings a = WithFuses({3, 20});
    a.lockMode = 2;
    a.bootLocks[1] = 1;
    LockFuseSettings b = a;
    b.readable = !a.readable;
    EXPECT_TRUE(a == b);

    auto differs = [&](auto change) {
        LockFuseSettings c = a;
        change(c);
        return !(a == c);
    };
    EXPECT_TRUE(differs([](LockFuseSettings& c) { c.lockMode = 3; }));
    EXPECT_TRUE(differs([](LockFuseSettings& c) { c.fuses[0] = 1; }));
    EXPECT_TRUE(differs([](LockFuseSettings& c) { c.fuses[31] = 1; }));  // past any fuse count
    EXPECT_TRUE(differs([](LockFuseSettings& c) { c.bootLocks[15] = 1; }));
    EXPECT_TRUE(differs([](LockFuseSettings& c) { c.bootLocks[1] = 0; }));
}

}  // namespace
}  // namespace zelko
