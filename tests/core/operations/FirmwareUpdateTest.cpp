// The firmware update command against the simulated board and its bootloader.
#include <gtest/gtest.h>

#include "core/app/Messages.h"
#include "core/operations/FirmwareImage.h"
#include "core/operations/SimBench.h"

namespace zelko {
namespace {

using test::SimBench;
using test::UiEvent;

bool Has(const std::vector<std::string>& texts, const std::string& t)
{
    return std::find(texts.begin(), texts.end(), t) != texts.end();
}

TEST(FirmwareUpdateTest, BoardInItsBootloaderGetsTheShippedImage)
{
    SimBench<> b("firmware=0,bootloader=1");
    b.ui.answers = {true};
    b.c.OnUpdateFirmware();

    EXPECT_EQ(b.c.LastCommandResult, 0);
    const auto questions = b.ui.Texts(UiEvent::YesNo);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], Format(2042, "ZI1 Bootloader", "1.0c"));
    EXPECT_TRUE(Has(b.ui.Texts(UiEvent::Box), Translate(1195)));
    const auto status = b.ui.Texts(UiEvent::Status);
    EXPECT_TRUE(Has(status, Translate(1175)));
    EXPECT_FALSE(Has(status, Translate(1176)));
    EXPECT_FALSE(b.c.serialPort.IsOpen());
    std::lock_guard lock(b.board->Mutex());
    EXPECT_TRUE(b.board->HasFirmware());
    EXPECT_FALSE(b.board->InBootloader());
    EXPECT_EQ(b.board->FirmwareVersion(), "10c");
}

TEST(FirmwareUpdateTest, NothingIsSentWithoutAWholeImage)
{
    test::TempDir dir;
    test::WriteFile(dir / "short.bin", std::string(12287, 'x'));
    struct Case {
        std::string path;
        std::string box;
    };
    const Case cases[] = {
        {(dir / "short.bin").string(), Format(2040, (dir / "short.bin").c_str(), 12287LL)},
        {(dir / "none.bin").string(), Format(2041, (dir / "none.bin").c_str())},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.path);
        SimBench<> b("firmware=0,bootloader=1");
        b.ui.answers = {true};
        b.c.firmwareImagePath = k.path;
        b.c.OnUpdateFirmware();
        EXPECT_EQ(b.ui.Texts(UiEvent::Box), std::vector<std::string>{k.box});
        EXPECT_TRUE(b.HostBytes().empty());
        EXPECT_EQ(b.c.LastCommandResult, -1);
    }
}

TEST(FirmwareUpdateTest, BoardOutcomes)
{
    struct Case {
        const char* what;
        std::string options;
        std::deque<bool> answers;
    };
    const Case cases[] = {
        {"the user says No", "firmware=0,bootloader=1", {false}},
        // A board running its firmware does not answer '^': no image byte.
        {"board not in its bootloader", "", {true}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        SimBench<> b(k.options);
        b.ui.answers = k.answers;
        b.c.OnUpdateFirmware();
        EXPECT_EQ(b.c.LastCommandResult, -1);
        EXPECT_FALSE(b.c.serialPort.IsOpen());
        std::lock_guard lock(b.board->Mutex());
        if (k.answers.front()) {
            EXPECT_EQ(b.ui.LastStatus(), Translate(1176));
        }
        EXPECT_TRUE(b.board->UploadedImage().empty());
    }
}

}  // namespace
}  // namespace zelko
