// The simulated target chip: memories, pages, lock and fuse bits, locked chips.
#include <gtest/gtest.h>

#include "core/devices/DeviceTable.h"
#include "core/devices/LockFuseTable.h"
#include "sim/SimChip.h"
#include "sim/SimTestSupport.h"

using namespace zelko;
using namespace zelko::sim;
using namespace zelko::sim::test;

namespace {

// Loads `bytes` into the page buffer from word 0 and commits the page that
// contains `wordAddress`.
void ProgramPage(SimChip& chip, uint32_t wordAddress, const Bytes& bytes)
{
    Spi(chip, 0x4D, 0x00, static_cast<uint8_t>(wordAddress >> 16), 0x00);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint32_t word = static_cast<uint32_t>(i / 2);
        Spi(chip, (i & 1) ? 0x48 : 0x40, static_cast<uint8_t>(word >> 8),
            static_cast<uint8_t>(word), bytes[i]);
    }
    Spi(chip, 0x4C, static_cast<uint8_t>(wordAddress >> 8), static_cast<uint8_t>(wordAddress),
        0x00);
}

uint8_t ReadFlash(SimChip& chip, uint32_t byteAddress)
{
    const uint32_t word = byteAddress / 2;
    Spi(chip, 0x4D, 0x00, static_cast<uint8_t>(word >> 16), 0x00);
    return Spi(chip, (byteAddress & 1) ? 0x28 : 0x20, static_cast<uint8_t>(word >> 8),
               static_cast<uint8_t>(word));
}

}  // namespace

TEST(SimChip, ProgrammingEnableNeedsAResetPulse)
{
    SimChip chip(ConfigFor("ATmega8/8A"));
    EXPECT_EQ(chip.Transfer({0xAC, 0x53, 0x00, 0x00})[2], 0xFF);
    EXPECT_EQ(Spi(chip, 0x30, 0x00, 0x00), 0xFF);
    chip.BeginResetStrobe();
    chip.SetResetLow(true);
    EXPECT_EQ(chip.Transfer({0xAC, 0x53, 0x00, 0x00})[2], 0xFF);
    chip.SetResetLow(false);
    chip.SetResetLow(true);
    // an AVR in step echoes 0x53 in the third byte
    EXPECT_EQ(chip.Transfer({0xAC, 0x53, 0x00, 0x00})[2], 0x53);
    EXPECT_EQ(chip.Transfer({0x30, 0x00, 0x01, 0x00}), (std::array<uint8_t, 4>{0xFF, 0x30, 0x00, 0x93}));
}

TEST(SimChip, ErasedMemoriesAndSignatures)
{
    struct Case {
        const char* device;
        std::array<uint8_t, 4> signatureRead;  // instruction for byte i (i added to the marked byte)
        int indexByte;
        Bytes signature;
    };
    const Case cases[] = {
        {"ATtiny13/13A", {0x30, 0x00, 0x00, 0x00}, 2, {0x1E, 0x90, 0x07}},
        {"ATmega2560/2561", {0x30, 0x00, 0x00, 0x00}, 2, {0x1E, 0x98, 0x01}},
        {"AT89S51", {0x28, 0x00, 0x00, 0x00}, 1, {0x1E, 0x51, 0x06}},
        {"AT89S2051", {0x28, 0x00, 0x00, 0x00}, 1, {0x1E, 0x23, 0xFF}},
        {"AT89S8253", {0x28, 0x00, 0x30, 0x00}, 2, {0x1E, 0x73, 0xFF}},
    };
    for (const Case& c : cases) {
        SimChip chip(ConfigFor(c.device));
        const DeviceRecord& d = chip.Device();
        EXPECT_EQ(chip.Flash(), Bytes(static_cast<size_t>(d.flashSize), 0xFF)) << c.device;
        EXPECT_EQ(chip.Eeprom(), Bytes(static_cast<size_t>(d.eepromSize), 0xFF)) << c.device;
        EnableProgramming(chip);
        Bytes got;
        for (uint8_t i = 0; i < 3; ++i) {
            std::array<uint8_t, 4> in = c.signatureRead;
            in[static_cast<size_t>(c.indexByte)] = static_cast<uint8_t>(in[static_cast<size_t>(c.indexByte)] + i);
            got.push_back(chip.Transfer(in)[3]);
        }
        EXPECT_EQ(got, c.signature) << c.device;
    }
}

TEST(SimChip, RawSignatureAndCalibrationOptions)
{
    SimChip chip(ConfigFor("ATtiny13/13A", "signature=1F0000,cal=5A4F"));
    EnableProgramming(chip);
    EXPECT_EQ(Spi(chip, 0x30, 0x00, 0x00), 0x1F);
    EXPECT_EQ(Spi(chip, 0x30, 0x00, 0x01), 0x00);
    EXPECT_EQ(Spi(chip, 0x38, 0x00, 0x00), 0x5A);
    EXPECT_EQ(Spi(chip, 0x38, 0x00, 0x01), 0x4F);
    EXPECT_EQ(Spi(chip, 0x38, 0x00, 0x02), 0xFF);

    // without the option, as many bytes as the device has
    SimChip plain(ConfigFor("ATmega8/8A"));
    EnableProgramming(plain);
    for (uint8_t j = 0; j < 4; ++j)
        EXPECT_NE(Spi(plain, 0x38, 0x00, j), 0xFF) << int(j);
}

TEST(SimChip, PageProgrammingOnlyClearsBits)
{
    SimChip chip(ConfigFor("ATmega8/8A"));  // 32-word pages
    EnableProgramming(chip);
    ProgramPage(chip, 0, Bytes(64, 0x0F));
    ProgramPage(chip, 0, Bytes(64, 0x3C));
    EXPECT_EQ(chip.Flash()[0], 0x0C);
    EXPECT_EQ(chip.Flash()[63], 0x0C);
    EXPECT_EQ(chip.Flash()[64], 0xFF);
    EXPECT_EQ(ReadFlash(chip, 1), 0x0C);
    EXPECT_EQ(chip.PageWrites(), 2);
}

TEST(SimChip, APageWriteLandsOnThePageItsAddressNames)
{
    SimChip chip(ConfigFor("ATmega8/8A"));
    EnableProgramming(chip);
    // data loaded at word 3 of the buffer; the page is named by any word in it
    Spi(chip, 0x40, 0x00, 0x03, 0xAB);
    Spi(chip, 0x48, 0x00, 0x03, 0xCD);
    Spi(chip, 0x4C, 0x00, 0x25, 0x00);  // word 0x25 is in the page of words 0x20..0x3F
    EXPECT_EQ(chip.Flash()[(0x20 + 3) * 2], 0xAB);
    EXPECT_EQ(chip.Flash()[(0x20 + 3) * 2 + 1], 0xCD);
    EXPECT_EQ(std::count(chip.Flash().begin(), chip.Flash().end(), 0xFF),
              static_cast<long>(chip.Flash().size()) - 2);
    // the buffer is empty again after the write
    Spi(chip, 0x4C, 0x00, 0x00, 0x00);
    EXPECT_EQ(chip.Flash()[6], 0xFF);
}

TEST(SimChip, ExtendedAddressReachesAbove128KiB)
{
    SimChip chip(ConfigFor("ATmega2560/2561"));
    EnableProgramming(chip);
    Bytes page(256);
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<uint8_t>(i);
    ProgramPage(chip, 0x10000, page);  // byte offset 0x20000
    EXPECT_EQ(chip.Flash()[0x20000 + 7], 7);
    EXPECT_EQ(chip.Flash()[7], 0xFF);
    EXPECT_EQ(ReadFlash(chip, 0x20000 + 200), 200);
    EXPECT_EQ(ReadFlash(chip, 200), 0xFF);
    EXPECT_EQ(chip.ExtendedAddress(), 0);
}

TEST(SimChip, EepromBytesAreRewritten)
{
    SimChip chip(ConfigFor("ATmega8/8A"));
    EnableProgramming(chip);
    Spi(chip, 0xC0, 0x01, 0xFF, 0x0F);
    EXPECT_EQ(Spi(chip, 0xA0, 0x01, 0xFF), 0x0F);
    Spi(chip, 0xC0, 0x01, 0xFF, 0xF0);  // each write erases the byte first
    EXPECT_EQ(Spi(chip, 0xA0, 0x01, 0xFF), 0xF0);
    EXPECT_EQ(chip.Eeprom()[0x1FF], 0xF0);
}

TEST(SimChip, At89sWritesBytesAndNeedsPreparation)
{
    SimChip chip(ConfigFor("AT89S52"));
    chip.Transfer({0xAC, 0x53, 0x00, 0x00});
    EXPECT_FALSE(chip.ProgrammingEnabled());
    chip.PrepareAt89s();
    EXPECT_EQ(chip.Transfer({0xAC, 0x53, 0x00, 0x00})[3], 0x69);
    Spi(chip, 0x40, 0x1F, 0xFF, 0x5A);
    Spi(chip, 0x40, 0x1F, 0xFF, 0x0F);
    EXPECT_EQ(Spi(chip, 0x20, 0x1F, 0xFF), 0x0A);
    // the AVR signature instruction means nothing to it
    EXPECT_EQ(Spi(chip, 0x30, 0x00, 0x00), 0xFF);
}

TEST(SimChip, ChipEraseClearsMemoriesAndLocks)
{
    SimChip chip(ConfigFor("ATmega8/8A"));
    EnableProgramming(chip);
    ProgramPage(chip, 0, Bytes(64, 0x00));
    Spi(chip, 0xC0, 0x00, 0x00, 0x12);
    Spi(chip, 0xAC, 0xFF, 0xFF, 0xFC);  // LB1 and LB2
    EXPECT_EQ(Spi(chip, 0x58, 0x00, 0x00), 0xFC);
    Spi(chip, 0xAC, 0x80, 0x00, 0x00);
    EXPECT_EQ(chip.Flash()[0], 0xFF);
    EXPECT_EQ(chip.Eeprom()[0], 0xFF);
    EXPECT_EQ(Spi(chip, 0x58, 0x00, 0x00), 0xFF);
    EXPECT_EQ(chip.ChipErases(), 1);
}

TEST(SimChip, ChipEraseKeepsEepromWhenEesaveIsProgrammed)
{
    // ATmega8: EESAVE is bit 3 of the high fuse byte
    SimChip chip(ConfigFor("ATmega8/8A", "hfuse=0xD1"));
    EnableProgramming(chip);
    Spi(chip, 0xC0, 0x00, 0x05, 0x77);
    Spi(chip, 0xAC, 0x80, 0x00, 0x00);
    EXPECT_EQ(chip.Eeprom()[5], 0x77);
    Spi(chip, 0xAC, 0xA8, 0xFF, 0xD9);  // EESAVE unprogrammed
    Spi(chip, 0xAC, 0x80, 0x00, 0x00);
    EXPECT_EQ(chip.Eeprom()[5], 0xFF);
}

// Writes the settings with the table's own instructions and decodes what the
// chip returns: the states must come back unchanged.
TEST(SimChip, FuseBytesRoundTripThroughTheTables)
{
    for (const char* device : {"ATtiny13/13A", "ATmega8/8A", "ATtiny441", "ATmega2560/2561",
                               "AT90PWM2/3", "AT89S8253"}) {
        SimChip chip(ConfigFor(device));
        EnableProgramming(chip);
        const LockFuseTable& t = LockFuseTableAt(chip.Device().lockFuseTableIndex);
        LockFuseSettings want;
        for (int i = 0; i < t.fuseCount; ++i)
            want.fuses[static_cast<size_t>(i)] = static_cast<uint8_t>((i * 5 + 1) % 3 == 0);
        // fuses whose read position is -1 read back unprogrammed
        for (int i = 0; i < t.fuseCount; ++i) {
            const auto k = static_cast<size_t>(i);
            if (t.lowReadBits[k] == -1 && t.high.readBits[k] == -1 && t.extended.readBits[k] == -1)
                want.fuses[k] = 0;
        }
        auto write = [&](FuseByte which) {
            const auto in = FillFuseWriteInstruction(t, which, want);
            chip.Transfer(in);
        };
        auto read = [&](const auto& instr) { return Spi(chip, instr[0], instr[1], instr[2]); };
        write(FuseByte::Low);
        if (t.high.present)
            write(FuseByte::High);
        if (t.extended.present)
            write(FuseByte::Extended);
        LockFuseSettings got;
        DecodeFuseByte(t, FuseByte::Low, read(t.lowReadInstruction), got);
        if (t.high.present)
            DecodeFuseByte(t, FuseByte::High, read(t.high.readInstruction), got);
        if (t.extended.present)
            DecodeFuseByte(t, FuseByte::Extended, read(t.extended.readInstruction), got);
        EXPECT_EQ(got.fuses, want.fuses) << device;
    }
}

TEST(SimChip, AvrLockAndBootLockBits)
{
    SimChip chip(ConfigFor("ATmega328/328P"));
    EnableProgramming(chip);
    const LockFuseTable& t = LockFuseTableAt(chip.Device().lockFuseTableIndex);
    // LB1 programmed, BLB02 (bit 3) programmed; unused bits read 1
    std::array<uint8_t, 4> in = t.lockWriteInstruction;
    in[3] = 0xFF & ~0x01 & ~0x08;
    chip.Transfer(in);
    const uint8_t lock = Spi(chip, t.lockReadInstruction[0], t.lockReadInstruction[1],
                             t.lockReadInstruction[2]);
    EXPECT_EQ(lock, 0xF6);
    LockFuseSettings s;
    DecodeBootLocks(t, lock, s);
    EXPECT_EQ(s.bootLocks[1], 1);
    EXPECT_EQ(s.bootLocks[0], 0);
    // lock bits only ever get programmed until the chip is erased
    in[3] = 0xFD;
    chip.Transfer(in);
    EXPECT_EQ(Spi(chip, 0x58, 0x00, 0x00), 0xF4);
}

TEST(SimChip, At89sLockLevels)
{
    // AT89S51/52: level n programs lock bit n, read back at bit n + 1
    SimChip chip(ConfigFor("AT89S51"));
    EnableProgramming(chip);
    EXPECT_EQ(Spi(chip, 0x24, 0x00, 0x00), 0x00);
    const uint8_t expected[] = {0x04, 0x0C, 0x1C};
    for (uint8_t level = 1; level <= 3; ++level) {
        Spi(chip, 0xAC, static_cast<uint8_t>(0xE0 | level), 0x00, 0xFF);
        EXPECT_EQ(Spi(chip, 0x24, 0x00, 0x00), expected[level - 1]) << int(level);
    }
    Spi(chip, 0xAC, 0x80, 0x00, 0x00);
    EXPECT_EQ(Spi(chip, 0x24, 0x00, 0x00), 0x00);

    // a single level 2 reads as bit 3 alone
    SimChip other(ConfigFor("AT89S52"));
    EnableProgramming(other);
    Spi(other, 0xAC, 0xE2, 0x00, 0xFF);
    EXPECT_EQ(Spi(other, 0x24, 0x00, 0x00), 0x08);
}

TEST(SimChip, At89s8253LockAndFuse)
{
    SimChip chip(ConfigFor("AT89S8253"));
    EnableProgramming(chip);
    EXPECT_EQ(Spi(chip, 0x24, 0xFF, 0xFF) & 0x07, 0x07);
    // mode 2 clears the two lowest lock bits
    Spi(chip, 0xAC, 0xE4, 0xFF, 0xFF);
    EXPECT_EQ(Spi(chip, 0x24, 0xFF, 0xFF) & 0x07, 0x04);
    // programming a weaker mode over it changes nothing
    Spi(chip, 0xAC, 0xE6, 0xFF, 0xFF);
    EXPECT_EQ(Spi(chip, 0x24, 0xFF, 0xFF) & 0x07, 0x04);
    Spi(chip, 0xAC, 0xE0, 0xFF, 0xFF);
    EXPECT_EQ(Spi(chip, 0x24, 0xFF, 0xFF) & 0x07, 0x00);
    // fuses: bit i of byte 1, 0 = programmed, rewritten both ways
    Spi(chip, 0xAC, 0x1A, 0xFF, 0xFF);
    EXPECT_EQ(Spi(chip, 0x21, 0xFF, 0xFF), 0xFA);
    Spi(chip, 0xAC, 0x1F, 0xFF, 0xFF);
    EXPECT_EQ(Spi(chip, 0x21, 0xFF, 0xFF), 0xFF);
    // EEPROM of the AT89S8253
    Spi(chip, 0xC0, 0x07, 0xFF, 0x42);
    EXPECT_EQ(Spi(chip, 0xA0, 0x07, 0xFF), 0x42);
}

TEST(SimChip, LockedChip)
{
    SimChip chip(ConfigFor("ATmega8/8A", "locked=1"));
    chip.Flash()[0] = 0x12;
    EnableProgramming(chip);
    EXPECT_EQ(Spi(chip, 0x30, 0x00, 0x00), 0x00);
    EXPECT_EQ(Spi(chip, 0x30, 0x00, 0x01), 0x01);
    EXPECT_EQ(Spi(chip, 0x30, 0x00, 0x02), 0x02);
    EXPECT_EQ(ReadFlash(chip, 0), 0x00);
    EXPECT_EQ(ReadFlash(chip, 1), 0x00);
    ProgramPage(chip, 0, Bytes(64, 0x00));
    EXPECT_EQ(chip.Flash()[1], 0xFF);  // writes are refused
    Spi(chip, 0xAC, 0x80, 0x00, 0x00);
    EXPECT_FALSE(chip.Locked());
    EXPECT_EQ(Spi(chip, 0x30, 0x00, 0x01), 0x93);
    EXPECT_EQ(ReadFlash(chip, 0), 0xFF);

    SimChip stuck(ConfigFor("AT89S51", "stuck=1"));
    EnableProgramming(stuck);
    Spi(stuck, 0xAC, 0x80, 0x00, 0x00);
    EXPECT_TRUE(stuck.Locked());
    EXPECT_EQ(Spi(stuck, 0x28, 0x02, 0x00), 0x02);
}

TEST(SimChip, AvrFusesDefaultToTheRecommendedStates)
{
    // ATmega8: SPIEN (high byte bit 5) recommended programmed
    SimChip chip(ConfigFor("ATmega8/8A"));
    EXPECT_EQ(chip.FuseByteValue(FuseByte::High), 0xDF);
    EXPECT_EQ(chip.FuseByteValue(FuseByte::Low), 0xFF);
    SimChip set(ConfigFor("ATmega8/8A", "lfuse=0xE1,hfuse=0xD9,lock=0xFC"));
    EXPECT_EQ(set.FuseByteValue(FuseByte::Low), 0xE1);
    EXPECT_EQ(set.LockByte(), 0xFC);
}
