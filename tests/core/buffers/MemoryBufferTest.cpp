#include "core/buffers/MemoryBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelko {
namespace {

struct FakeLabel : BufferLabel {
    void SetText(const std::string& t) override { text = t; }
    std::string text;
};
struct FakePreview : BufferPreview {
    void Refresh() override { ++refreshes; }
    int refreshes = 0;
};
struct FakeOwner : BufferOwner {
    void UpdateControls() override { ++updates; }
    int updates = 0;
};

// Two buffers wired to one project as the main window wires them.
struct Wired : ::testing::Test {
    Wired()
    {
        project.FlashBuffer = &flash;
        project.EepromBuffer = &eeprom;
        for (MemoryBuffer* b : {&flash, &eeprom}) {
            b->Project = &project;
            b->Owner = &owner;
        }
        flash.FileLabel = &label;
        flash.Preview = &preview;
    }
    void Fill(MemoryBuffer& b, std::vector<uint8_t> bytes)
    {
        b.SetContents(std::move(bytes), Loaded);
    }
    ProjectSettings project;
    MemoryBuffer flash{false}, eeprom{true};
    FakeLabel label;
    FakePreview preview;
    FakeOwner owner;
};

TEST_F(Wired, IncrementCounterCarriesIntoLowerAddressesForAtMostFourBytes)
{
    struct Case {
        std::vector<uint8_t> before;
        int32_t address;
        std::vector<uint8_t> after;
        std::vector<uint8_t> changed;  // 1 where the state must be Changed
    } cases[] = {
        {{0x12, 0xFF, 0xFF}, 2, {0x13, 0x00, 0x00}, {1, 1, 1}},
        {{0x00, 0x7F, 0x00}, 1, {0x00, 0x80, 0x00}, {0, 1, 0}},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 4, {0xFF, 0x00, 0x00, 0x00, 0x00}, {0, 1, 1, 1, 1}},
        {{0xFF, 0x10}, 0, {0x00, 0x10}, {1, 0}},
        {{0x01, 0x02, 0x03}, 99, {0x01, 0x02, 0x04}, {0, 0, 1}},  // clamped to the last byte
        {{0x01, 0xFF}, 0x7FFFFFFF, {0x02, 0x00}, {1, 1}},
        {{0x05}, -1, {0x05}, {0}},
    };
    for (const Case& c : cases) {
        Fill(flash, c.before);
        flash.IncrementCounter(c.address);
        EXPECT_EQ(flash.Data, c.after) << c.address;
        for (size_t i = 0; i < c.changed.size(); ++i)
            EXPECT_EQ(flash.States[i] == Changed, c.changed[i] == 1) << c.address << " byte " << i;
    }
    EXPECT_TRUE(flash.Modified);
    EXPECT_TRUE(project.Modified);
    EXPECT_EQ(label.text.back(), '*');

    MemoryBuffer empty;
    empty.IncrementCounter(0);  // nothing to step, nothing to crash on
    EXPECT_EQ(empty.Length, 0);
}

TEST_F(Wired, ChecksumIsTheSumModulo65536)
{
    EXPECT_EQ(flash.Checksum(), 0);
    Fill(flash, {0xFF, 0x01});
    EXPECT_EQ(flash.Checksum(), 0x0100);
    Fill(flash, std::vector<uint8_t>(300, 0xFF));  // 76500 = 0x12AD4
    EXPECT_EQ(flash.Checksum(), 0x2AD4);
}

TEST_F(Wired, LabelShowsTheMarkOnlyForAModifiedBufferWithContents)
{
    Fill(flash, {1, 2});
    flash.FileName = "/tmp/a.hex";
    flash.MarkModified();
    EXPECT_EQ(label.text, "/tmp/a.hex*");
    flash.CloseBuffer();
    EXPECT_EQ(label.text, "[Unspecified]");
    EXPECT_TRUE(flash.Modified);  // the mark itself stays
    EXPECT_TRUE(flash.Data.empty());
    EXPECT_TRUE(flash.States.empty());
    flash.FileName.clear();
    EXPECT_EQ(flash.LabelText(), "[Unspecified]");
}

TEST_F(Wired, CreateBufferKeepsTheFileNameAndAwaitsTheRead)
{
    Fill(flash, {1, 2, 3, 4});
    flash.FileName = "/tmp/a.hex";
    const int refreshes = preview.refreshes;
    flash.CreateBuffer(8);
    EXPECT_EQ(flash.Length, 8);
    EXPECT_EQ(flash.Data, std::vector<uint8_t>(8, 0xFF));
    EXPECT_EQ(flash.States, std::vector<uint8_t>(8, Failed));
    EXPECT_EQ(label.text, "/tmp/a.hex*");
    EXPECT_TRUE(project.Modified);
    EXPECT_GT(preview.refreshes, refreshes);
    EXPECT_GE(owner.updates, 1);
}

TEST_F(Wired, PadToWordAppliesToOddLengthsOnly)
{
    Fill(flash, {1, 2, 3});
    flash.PadToWord();
    EXPECT_EQ(flash.Data, (std::vector<uint8_t>{1, 2, 3, 0xFF}));
    EXPECT_EQ(flash.States.size(), 4u);
    EXPECT_EQ(flash.States[3], Loaded);
    flash.PadToWord();
    EXPECT_EQ(flash.Length, 4);
}

TEST_F(Wired, TheProjectIsCleanOnlyWhenBothBuffersAre)
{
    flash.MarkModified();
    eeprom.MarkModified();
    EXPECT_TRUE(project.Modified);
    EXPECT_EQ(owner.updates, 1);  // only the project's change of mark asks for a refresh

    flash.Modified = false;
    flash.SettleProjectMark();
    EXPECT_TRUE(project.Modified);
    eeprom.Modified = false;
    eeprom.SettleProjectMark();
    EXPECT_FALSE(project.Modified);
    EXPECT_EQ(owner.updates, 2);
}

}  // namespace
}  // namespace zelko
