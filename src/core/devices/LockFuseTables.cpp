#include "core/devices/LockFuseTable.h"

#include <string_view>

#include "core/app/Messages.h"
#include "core/devices/DeviceTable.h"

namespace zelko {

namespace {

using Instruction = std::array<uint8_t, 4>;

// Write templates shared by the AVR families. Some families need byte 2 of the
// instruction cleared, some use the 0xE0 form of the lock write.
constexpr Instruction kLockTemplate{0xAC, 0xFF, 0xFF, 0xFF};
constexpr Instruction kLowTemplate{0xAC, 0xA0, 0xFF, 0xFF};
constexpr Instruction kHighTemplate{0xAC, 0xA8, 0xFF, 0xFF};
constexpr Instruction kExtendedTemplate{0xAC, 0xA4, 0xFF, 0xFF};
constexpr Instruction kLockTemplateByte2Zero{0xAC, 0xFF, 0x00, 0xFF};
constexpr Instruction kLowTemplateByte2Zero{0xAC, 0xA0, 0x00, 0xFF};
constexpr Instruction kHighTemplateByte2Zero{0xAC, 0xA8, 0x00, 0xFF};
constexpr Instruction kExtendedTemplateByte2Zero{0xAC, 0xA4, 0x00, 0xFF};
constexpr Instruction kLockTemplateE0{0xAC, 0xE0, 0xFF, 0xFF};
constexpr Instruction kLockTemplateE0Byte2Zero{0xAC, 0xE0, 0x00, 0xFF};

struct Recommendation {
    const char* name = nullptr;
    int32_t state = 0;  // +1 programmed, -1 unprogrammed
};

// The compact description of an AVR family: its fuse names byte by byte
// (bit 0 first, nullptr after the last), its recommendations by fuse name and
// the instruction templates where they differ from the usual ones.
struct FamilyData {
    int fuseCount = 0;
    std::array<const char*, 8> low{};
    std::array<const char*, 8> high{};
    std::array<const char*, 8> extended{};
    std::array<Recommendation, 12> recommended{};
    int bootLockCount = 0;
    Instruction lockWrite = kLockTemplate;
    Instruction lowWrite = kLowTemplate;
    Instruction highWrite = kHighTemplate;
    Instruction extendedWrite = kExtendedTemplate;
    int unreadFuse = -1;  // a low-byte fuse that is written but never read back
};

// A table in which nothing is written or read: every bit place and read
// position unused, every name empty.
constexpr LockFuseTable EmptyTable()
{
    LockFuseTable t{};
    // Filled explicitly although BitPlace defaults to (-1, -1): g++ 12 emitted
    // some of those defaults as (0, 0) in this constant data.
    const BitPlace none{-1, -1};
    t.lockWriteBits.fill(none);
    t.lowWriteBits.fill(none);
    t.high.writeBits.fill(none);
    t.extended.writeBits.fill(none);
    t.lockReadBits = {-1, -1, -1};
    t.lowReadBits.fill(-1);
    t.high.readBits.fill(-1);
    t.extended.readBits.fill(-1);
    t.fuseNames.fill("");
    t.bootLockBits = {-1, -1, -1, -1};
    t.bootLockNames.fill("");
    return t;
}

constexpr int CountNames(const std::array<const char*, 8>& names)
{
    int n = 0;
    while (n < 8 && names[n] != nullptr) ++n;
    for (int k = n; k < 8; ++k)
        if (names[k] != nullptr) throw "a fuse name after the end of its byte";
    return n;
}

constexpr LockFuseTable Family(const FamilyData& d)
{
    const int lowCount = CountNames(d.low);
    const int highCount = CountNames(d.high);
    const int extendedCount = CountNames(d.extended);
    // Fuse i lives in byte i / 8, so a byte can only start once the one before is full.
    if ((highCount > 0 && lowCount < 8) || (extendedCount > 0 && highCount < 8))
        throw "fuse names must fill the lower bytes first";
    if (lowCount + highCount + extendedCount != d.fuseCount) throw "fuse count does not match the names";

    LockFuseTable t = EmptyTable();
    t.lockWriteInstruction = d.lockWrite;
    t.lockWriteBits[0] = {3, 0};  // LB1
    t.lockWriteBits[1] = {3, 1};  // LB2
    t.fuseCount = d.fuseCount;
    t.lowWriteInstruction = d.lowWrite;
    t.lockReadable = true;
    t.lockReadInstruction = {0x58, 0x00, 0x00};
    t.lockReadBits = {0, 1, -1};
    t.lowReadable = true;
    t.lowReadInstruction = {0x50, 0x00, 0x00};

    t.high.present = d.fuseCount > 8;
    t.high.writeInstruction = d.highWrite;
    t.high.readInstruction = {0x58, 0x08, 0x00, 0x00};
    t.extended.present = d.fuseCount > 16;
    t.extended.writeInstruction = d.extendedWrite;
    t.extended.readInstruction = {0x50, 0x08, 0x00, 0x00};

    for (int i = 0; i < d.fuseCount; ++i) {
        const BitPlace place{3, i % 8};
        const int position = i % 8;
        if (i < 8) {
            t.fuseNames[i] = d.low[i];
            t.lowWriteBits[i] = place;
            t.lowReadBits[i] = i == d.unreadFuse ? -1 : position;
        } else if (i < 16) {
            t.fuseNames[i] = d.high[i - 8];
            t.high.writeBits[i] = place;
            t.high.readBits[i] = position;
        } else {
            t.fuseNames[i] = d.extended[i - 16];
            t.extended.writeBits[i] = place;
            t.extended.readBits[i] = position;
        }
    }

    for (const Recommendation& r : d.recommended) {
        if (r.name == nullptr) break;
        int found = -1;
        for (int i = 0; i < d.fuseCount; ++i) {
            if (std::string_view(t.fuseNames[i]) != r.name) continue;
            if (found != -1) throw "recommended fuse name is ambiguous";
            found = i;
        }
        if (found == -1) throw "recommended fuse name not in the table";
        t.recommended[found] = r.state;
    }

    t.bootLockCount = d.bootLockCount;
    if (d.bootLockCount == 4) {
        t.bootLockBits = {2, 3, 4, 5};
        t.bootLockNames = {"BLB01", "BLB02", "BLB11", "BLB12"};
    } else if (d.bootLockCount != 0) {
        throw "boot lock count is 0 or 4";
    }
    return t;
}

// AT86RF401: two lock bits in byte 1, nothing can be read back, no fuses.
constexpr LockFuseTable Rf401Table()
{
    LockFuseTable t = EmptyTable();
    t.lockWriteInstruction = {0xAC, 0xE0, 0x00, 0x00};
    t.lockWriteBits[0] = {1, 1};  // LB1
    t.lockWriteBits[1] = {1, 2};  // LB2
    t.lockReadable = false;
    return t;
}

// AT89S lock bits are written one level per instruction, so the table only
// carries the templates; the lock byte is decoded by the family's own rules.
constexpr LockFuseTable At89sLockOnlyTable(Instruction lockWrite, std::array<uint8_t, 3> lockRead)
{
    LockFuseTable t = EmptyTable();
    t.lockWriteInstruction = lockWrite;
    t.lockReadable = true;
    t.lockReadInstruction = lockRead;
    return t;
}

// AT89S2051, AT89S4051.
constexpr LockFuseTable At89sSmallTable()
{
    return At89sLockOnlyTable({0xAC, 0xE0, 0x00, 0x00}, {0x24, 0xFF, 0xFF});
}

// AT89S51, AT89S52.
constexpr LockFuseTable At89sTable()
{
    return At89sLockOnlyTable({0xAC, 0xE0, 0x00, 0x00}, {0x24, 0x00, 0x00});
}

// AT89S8253: three lock bits in byte 1 (entries for modes 3, 2, 1) and four
// user fuses in byte 1 of their own instruction.
constexpr LockFuseTable At89s8253Table()
{
    LockFuseTable t = EmptyTable();
    t.lockWriteInstruction = {0xAC, 0xE7, 0xFF, 0xFF};
    t.lockWriteBits[0] = {1, 2};
    t.lockWriteBits[1] = {1, 1};
    t.lockWriteBits[2] = {1, 0};
    t.lockReadable = true;
    t.lockReadInstruction = {0x24, 0xFF, 0xFF};
    t.fuseCount = 4;
    t.lowWriteInstruction = {0xAC, 0x1F, 0xFF, 0xFF};
    t.lowReadable = true;
    t.lowReadInstruction = {0x21, 0xFF, 0xFF};
    constexpr const char* names[4] = {"SerialPrgEn", "x2 Clock En", "UsrRowPrgEn", "Extern Clock En"};
    for (int i = 0; i < 4; ++i) {
        t.lowWriteBits[i] = {1, i};
        t.lowReadBits[i] = i;
        t.fuseNames[i] = names[i];
    }
    t.recommended[0] = +1;  // SerialPrgEn: without it the chip cannot be reprogrammed this way
    return t;
}

// Table number = the device record's lockFuseTableIndex.
constexpr std::array<LockFuseTable, kLockFuseTableCount> kTables = {
    // 0: ATtiny13/13A
    Family({.fuseCount = 13,
            .low = {"CKSEL0", "CKSEL1", "SUT0", "SUT1", "CKDIV8", "WDTON", "EESAVE", "SPIEN"},
            .high = {"RSTDISBL", "BODLEVEL0", "BODLEVEL1", "DWEN", "SPMEN"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 0}),
    // 1: ATtiny2313/2313A, ATtiny4313
    Family({.fuseCount = 17,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"RSTDISBL", "BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "WDTON", "SPIEN", "EESAVE", "DWEN"},
            .extended = {"SPMEN"},
            .recommended = {{{"RSTDISBL", -1}, {"SPIEN", +1}}},
            .bootLockCount = 4}),
    // 2: ATtiny24/24A, ATtiny43U, ATtiny44/44A, ATtiny84/84A, ATtiny87, ATtiny167
    Family({.fuseCount = 17,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "EESAVE", "WDTON", "SPIEN", "DWEN", "RSTDISBL"},
            .extended = {"SELFPRGEN"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4,
            .lockWrite = kLockTemplateByte2Zero,
            .lowWrite = kLowTemplateByte2Zero,
            .highWrite = kHighTemplateByte2Zero,
            .extendedWrite = kExtendedTemplateByte2Zero}),
    // 3: ATtiny441, ATtiny841
    Family({.fuseCount = 24,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT", "_EMPTY_", "CKOUT", "CKDIV8"},
            .high = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "EESAVE", "WDTON", "SPIEN", "DWEN", "RSTDISBL"},
            .extended = {"SELFPRGEN", "BODACT0", "BODACT1", "BODPD0", "BODPD1", "ULPOSCSEL0", "ULPOSCSEL1", "ULPOSCSEL2"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4,
            .lowWrite = kLowTemplateByte2Zero,
            .highWrite = kHighTemplateByte2Zero,
            .extendedWrite = kExtendedTemplateByte2Zero,
            .unreadFuse = 5}),
    // 4: ATtiny828
    Family({.fuseCount = 24,
            .low = {"CKSEL0", "CKSEL1", "_EMPTY_", "_EMPTY_", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "EESAVE", "WDTON", "SPIEN", "DWEN", "RSTDISBL"},
            .extended = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "_EMPTY_", "BODACT0", "BODACT1", "BODPD0", "BODPD1"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4,
            .lowWrite = kLowTemplateByte2Zero,
            .highWrite = kHighTemplateByte2Zero,
            .extendedWrite = kExtendedTemplateByte2Zero}),
    // 5: ATtiny1634
    Family({.fuseCount = 21,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT", "_EMPTY_", "CKOUT", "CKDIV8"},
            .high = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "EESAVE", "WDTON", "SPIEN", "DWEN", "RSTDISBL"},
            .extended = {"SELFPRGEN", "BODACT0", "BODACT1", "BODPD0", "BODPD1"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4,
            .lowWrite = kLowTemplateByte2Zero,
            .highWrite = kHighTemplateByte2Zero,
            .extendedWrite = kExtendedTemplateByte2Zero,
            .unreadFuse = 5}),
    // 6: ATtiny25, ATtiny45, ATtiny85
    Family({.fuseCount = 17,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "EESAVE", "WDTON", "SPIEN", "DWEN", "RSTDISBL"},
            .extended = {"SELFPRGEN"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4,
            .lockWrite = kLockTemplateE0}),
    // 7: AT86RF401
    Rf401Table(),
    // 8: ATtiny26
    Family({.fuseCount = 13,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOPT", "PLLCK"},
            .high = {"BODEN", "BODLEVEL", "EESAVE", "SPIEN", "RSTDISBL"},
            .bootLockCount = 0}),
    // 9: ATtiny261A, ATtiny461/461A, ATtiny48, ATtiny861/861A, ATtiny88
    Family({.fuseCount = 17,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "EESAVE", "WDTON", "SPIEN", "DWEN", "RSTDISBL"},
            .extended = {"SELFPRGEN"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4}),
    // 10: ATmega48A/48PA, ATmega48PB
    Family({.fuseCount = 17,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "EESAVE", "WDTON", "SPIEN", "DWEN", "RSTDISBL"},
            .extended = {"SELFPRGEN"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4,
            .highWrite = kHighTemplateByte2Zero}),
    // 11: AT90USB64x, AT90USB128x
    Family({.fuseCount = 20,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "JTAGEN", "OCDEN"},
            .extended = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "HWBE"},
            .recommended = {{{"SPIEN", +1}}},
            .bootLockCount = 4}),
    // 12: ATmega8/8A
    Family({.fuseCount = 16,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "BODEN", "BODLEVEL"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "CKOPT", "SPIEN", "WDTON", "RSTDISBL"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4}),
    // 13: ATmega8U2, ATmega16/16A
    Family({.fuseCount = 16,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "BODEN", "BODLEVEL"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "CKOPT", "SPIEN", "JTAGEN", "OCDEN"},
            .recommended = {{{"SPIEN", +1}}},
            .bootLockCount = 4}),
    // 14: ATmega16M1, ATmega32M1, ATmega64M1
    Family({.fuseCount = 22,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "DWEN", "RSTDISBL"},
            .extended = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "PSCRVB", "PSCRVA", "PSCRB"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4}),
    // 15: ATmega16U2/16U4, ATmega32U2/32U4
    Family({.fuseCount = 20,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "JTAGEN", "OCDEN"},
            .extended = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "HWBE"},
            .recommended = {{{"CKSEL0", +1}, {"SUT1", +1}, {"CKDIV8", +1}, {"BOOTSZ0", +1}, {"BOOTSZ1", +1}, {"SPIEN", +1}, {"JTAGEN", +1}, {"BODLEVEL2", +1}, {"HWBE", +1}}},
            .bootLockCount = 4}),
    // 16: ATmega32/32A, ATmega32U6
    Family({.fuseCount = 16,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "BODEN", "BODLEVEL"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "CKOPT", "SPIEN", "JTAGEN", "OCDEN"},
            .recommended = {{{"SPIEN", +1}}},
            .bootLockCount = 4}),
    // 17: ATmega8515
    Family({.fuseCount = 16,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "BODEN", "BODLEVEL"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "CKOPT", "SPIEN", "WDTON", "S8515C"},
            .recommended = {{{"SPIEN", +1}}},
            .bootLockCount = 4}),
    // 18: ATmega8535
    Family({.fuseCount = 16,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "BODEN", "BODLEVEL"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "CKOPT", "SPIEN", "WDTON", "S8535C"},
            .recommended = {{{"SPIEN", +1}}},
            .bootLockCount = 4}),
    // 19: ATmega162
    Family({.fuseCount = 20,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "JTAGEN", "OCDEN"},
            .extended = {"_EMPTY_", "BODLEVEL0", "BODLEVEL1", "BODLEVEL2"},
            .recommended = {{{"SPIEN", +1}}},
            .bootLockCount = 4}),
    // 20: ATmega64/64A
    Family({.fuseCount = 18,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "BODEN", "BODLEVEL"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "CKOPT", "SPIEN", "JTAGEN", "OCDEN"},
            .extended = {"WDTON", "M103C"},
            .recommended = {{{"SPIEN", +1}}},
            .bootLockCount = 4}),
    // 21: ATmega165A/165PA, ATmega169A/169PA
    Family({.fuseCount = 20,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "JTAGEN", "OCDEN"},
            .extended = {"RSTDISBL", "BODLEVEL0", "BODLEVEL1", "BODLEVEL2"},
            .recommended = {{{"SPIEN", +1}, {"JTAGEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4}),
    // 22: ATmega128/128A
    Family({.fuseCount = 18,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "BODEN", "BODLEVEL"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "CKOPT", "SPIEN", "JTAGEN", "OCDEN"},
            .extended = {"WDTON", "M103C"},
            .recommended = {{{"SPIEN", +1}, {"JTAGEN", +1}}},
            .bootLockCount = 4}),
    // 23: AT89S2051, AT89S4051
    At89sSmallTable(),
    // 24: AT89S51, AT89S52
    At89sTable(),
    // 25: ATmega88A/88PA, ATmega88PB, ATmega168A/168PA, ATmega168PB, ATA6602/6612, ATA6603/6613
    Family({.fuseCount = 19,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "EESAVE", "WDTON", "SPIEN", "DWEN", "RSTDISBL"},
            .extended = {"BOOTRST", "BOOTSZ0", "BOOTSZ1"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4,
            .highWrite = kHighTemplateByte2Zero}),
    // 26: ATmega328/328P
    Family({.fuseCount = 19,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "DWEN", "RSTDISBL"},
            .extended = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2"},
            .recommended = {{{"CKSEL0", +1}, {"CKSEL2", +1}, {"CKSEL3", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4}),
    // 27: ATmega328PB
    Family({.fuseCount = 20,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "DWEN", "OCDEN"},
            .extended = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "CFD"},
            .recommended = {{{"CKDIV8", +1}, {"SPIEN", +1}, {"CFD", +1}}},
            .bootLockCount = 4}),
    // 28: AT89S8253
    At89s8253Table(),
    // 29: AT90CAN32, AT90CAN64, AT90CAN128
    Family({.fuseCount = 20,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "JTAGEN", "OCDEN"},
            .extended = {"TA0SEL", "BODLEVEL0", "BODLEVEL1", "BODLEVEL2"},
            .recommended = {{{"SPIEN", +1}}},
            .bootLockCount = 4}),
    // 30: ATmega325A/325PA, ATmega3250A/3250PA, ATmega645A/6450A, ATmega645P/6450P
    Family({.fuseCount = 20,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "JTAGEN", "OCDEN"},
            .extended = {"RSTDISBL", "BODLEVEL0", "BODLEVEL1", "BODLEVEL2"},
            .recommended = {{{"SPIEN", +1}, {"JTAGEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4}),
    // 31: AT90PWM2/3, AT90PWM2B/3B
    Family({.fuseCount = 24,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "EESAVE", "WDTON", "SPIEN", "DWEN", "RSTDISBL"},
            .extended = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "_EMPTY_", "PSCRV", "PSC0RB", "PSC1RB", "PSC2RB"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4}),
    // 32: ATmega164A/164PA, ATmega324A/324PA, ATmega644A/644PA
    Family({.fuseCount = 19,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "JTAGEN", "OCDEN"},
            .extended = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2"},
            .recommended = {{{"SPIEN", +1}}},
            .bootLockCount = 4}),
    // 33: ATmega329A/329PA, ATmega3290A/3290PA, ATmega649A/6490A, ATmega649P/6490P
    Family({.fuseCount = 19,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "JTAGEN", "OCDEN"},
            .extended = {"RSTDISBL", "BODLEVEL0", "BODLEVEL1"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4}),
    // 34: ATmega324PB
    Family({.fuseCount = 20,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "JTAGEN", "OCDEN"},
            .extended = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "CFD"},
            .recommended = {{{"CKDIV8", +1}, {"SPIEN", +1}, {"JTAGEN", +1}, {"CFD", +1}}},
            .bootLockCount = 4}),
    // 35: ATmega640, ATmega64xRFR2, ATmega1280/1281, ATmega128RFA1, ATmega128xRFR2, ATmega1284/1284P, ATmega2560/2561, ATmega256xRFR2
    Family({.fuseCount = 19,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "JTAGEN", "OCDEN"},
            .extended = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2"},
            .recommended = {{{"SPIEN", +1}}},
            .bootLockCount = 4,
            .lockWrite = kLockTemplateE0Byte2Zero,
            .lowWrite = kLowTemplateByte2Zero,
            .highWrite = kHighTemplateByte2Zero,
            .extendedWrite = kExtendedTemplateByte2Zero}),
    // 36: (none)
    Family({.fuseCount = 19,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "JTAGEN", "OCDEN"},
            .extended = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2"},
            .recommended = {{{"SPIEN", +1}}},
            .bootLockCount = 4}),
    // 37: AT90USB82, AT90USB162
    Family({.fuseCount = 20,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "WDTON", "SPIEN", "RSTDISBL", "DWEN"},
            .extended = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "HWBE"},
            .recommended = {{{"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4}),
    // 38: AT90PWM81, AT90PWM216/316
    Family({.fuseCount = 24,
            .low = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"},
            .high = {"BODLEVEL0", "BODLEVEL1", "BODLEVEL2", "EESAVE", "WDTON", "SPIEN", "DWEN", "RSTDISBL"},
            .extended = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "_EMPTY_", "PSCRV", "PSC0RB", "PSC1RB", "PSC2RB"},
            .recommended = {{{"CKDIV8", +1}, {"SPIEN", +1}, {"RSTDISBL", -1}}},
            .bootLockCount = 4}),
};

const FuseByteDescriptor* DescriptorOf(const LockFuseTable& t, FuseByte which)
{
    switch (which) {
    case FuseByte::High: return &t.high;
    case FuseByte::Extended: return &t.extended;
    case FuseByte::Low: break;
    }
    return nullptr;
}

bool ValidPlace(const BitPlace& p)
{
    return p.byteIndex >= 0 && p.byteIndex < 4 && p.bit >= 0 && p.bit < 8;
}

bool ValidPosition(int32_t position)
{
    return position >= 0 && position < 8;
}

int ClampedFuseCount(const LockFuseTable& t)
{
    return t.fuseCount < 0 ? 0 : (t.fuseCount > 32 ? 32 : t.fuseCount);
}

}  // namespace

const LockFuseTable& LockFuseTableAt(int index)
{
    // Callers check the device's table number first; keep a bad one in bounds.
    if (index < 0 || index >= kLockFuseTableCount) return kTables[0];
    return kTables[index];
}

std::array<uint8_t, 4> FillFuseWriteInstruction(const LockFuseTable& t, FuseByte which,
                                                 const LockFuseSettings& s)
{
    const FuseByteDescriptor* d = DescriptorOf(t, which);
    std::array<uint8_t, 4> instruction = d ? d->writeInstruction : t.lowWriteInstruction;
    const std::array<BitPlace, 32>& places = d ? d->writeBits : t.lowWriteBits;
    const int count = ClampedFuseCount(t);
    for (int i = 0; i < count; ++i) {
        const BitPlace& p = places[i];
        if (!p.used() || !ValidPlace(p)) continue;
        const uint8_t mask = static_cast<uint8_t>(1u << p.bit);
        // A programmed fuse is a 0 on the chip. Any non-zero state (a hand-edited
        // project may hold 2) counts as programmed.
        if (s.fuses[i] != 0)
            instruction[p.byteIndex] &= static_cast<uint8_t>(~mask);
        else
            instruction[p.byteIndex] |= mask;
    }
    return instruction;
}

void DecodeFuseByte(const LockFuseTable& t, FuseByte which, uint8_t value, LockFuseSettings& s)
{
    const FuseByteDescriptor* d = DescriptorOf(t, which);
    const int count = ClampedFuseCount(t);
    for (int i = 0; i < count; ++i) {
        const int32_t position = d ? d->readBits[i] : t.lowReadBits[i];
        const bool programmed = ValidPosition(position) && (value & (1u << position)) == 0;
        if (d == nullptr) {
            // The low byte is read first and settles every fuse; the high and
            // extended bytes then fill in their own.
            s.fuses[i] = programmed ? 1 : 0;
        } else if (position != -1) {
            s.fuses[i] = programmed ? 1 : 0;
        }
    }
}

void DecodeBootLocks(const LockFuseTable& t, uint8_t lockByte, LockFuseSettings& s)
{
    const int count = t.bootLockCount < 0 ? 0 : (t.bootLockCount > 4 ? 4 : t.bootLockCount);
    for (int i = 0; i < count; ++i) {
        const int32_t position = t.bootLockBits[i];
        s.bootLocks[i] = ValidPosition(position) && (lockByte & (1u << position)) == 0 ? 1 : 0;
    }
}

const char* LockModeName(int interfaceKind, int mode)
{
    if (mode < 0 || mode > 3) return "";
    return Translate((interfaceKind == kInterfaceAvr ? 1006 : 1010) + mode);
}

void ApplyRecommendedPresets(const LockFuseTable& t, LockFuseSettings& s)
{
    const int count = ClampedFuseCount(t);
    for (int i = 0; i < count; ++i) {
        if (t.recommended[i] > 0)
            s.fuses[i] = 1;
        else if (t.recommended[i] < 0)
            s.fuses[i] = 0;
    }
}

}  // namespace zelko
