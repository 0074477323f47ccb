// A link that fails at every step: the simulated board loses the reply to
// each command of a whole Program Flash in turn. Every run must end, tell the
// user, close the port, and leave buffer states that tell the truth about the
// chip.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "core/app/Messages.h"
#include "core/operations/SimBench.h"

namespace zelko {
namespace {

using test::SimBench;
using test::UiEvent;

std::vector<uint8_t> Image()
{
    std::vector<uint8_t> v(64 * 3 + 20, 0xFF);
    for (size_t i = 0; i < v.size(); ++i)
        if (i < 64 || i >= 128)  // page 1 stays erased and is skipped
            v[i] = static_cast<uint8_t>(i * 5 + 1);
    return v;
}

TEST(FailingLinkTest, EachLostReplyOfAProgramFlash)
{
    // Which commands a clean run sends, and how often.
    std::map<uint8_t, int> counts;
    {
        SimBench<> b;
        b.c.projectSettings.CheckSign = true;
        b.c.flashBuffer.SetContents(Image(), Loaded);
        b.c.OnProgramFlash();
        ASSERT_EQ(b.c.LastCommandResult, 0);
        std::lock_guard lock(b.board->Mutex());
        for (int c = 0; c < 256; ++c)
            if (int n = b.board->CommandCount(static_cast<uint8_t>(c)))
                counts[static_cast<uint8_t>(c)] = n;
    }
    ASSERT_GE(counts.size(), 10u);

    int runs = 0, failures = 0;
    for (const auto& [command, count] : counts) {
        for (int k = 1; k <= count; ++k) {
            SCOPED_TRACE(testing::Message() << "no reply to '" << char(command) << "' #" << k);
            sim::SimConfig config;
            config.noReply.push_back({command, k, -1});
            SimBench<> b(config);
            b.c.projectSettings.CheckSign = true;
            const auto image = Image();
            b.c.flashBuffer.SetContents(image, Loaded);

            const auto start = std::chrono::steady_clock::now();
            b.c.OnProgramFlash();
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
            ++runs;

            EXPECT_FALSE(b.c.serialPort.IsOpen());
            EXPECT_FALSE(b.c.flashBuffer.Busy);
            EXPECT_EQ(b.ui.waitCursorDepth, 0);
            const auto boxes = b.ui.Texts(UiEvent::Box);
            if (b.c.LastCommandResult != 0) {
                ++failures;
                // The user is told, in a box, and the status line shows an error.
                EXPECT_FALSE(boxes.empty());
                const std::string last = b.ui.LastStatus();
                EXPECT_TRUE(last == Translate(1051) || last == Translate(1027) ||
                            last == Translate(1047) || last == Translate(1174))
                    << last;
            } else {
                // Only replies the protocol ignores, or the goodbye, may be lost
                // without failing the command; the goodbye gets its warning.
                EXPECT_TRUE(command == '4' || command == '-' || command == '#') << char(command);
                if (command == '-' || command == '#') {
                    EXPECT_EQ(boxes, std::vector<std::string>{Translate(1026)});
                }
            }
            // Every byte marked Programmed is in the chip.
            std::lock_guard lock(b.board->Mutex());
            const auto& chip = b.board->Chip().Flash();
            const auto& states = b.c.flashBuffer.States;
            for (size_t i = 0; i < image.size(); ++i) {
                if (states[i] == Programmed) {
                    ASSERT_EQ(chip[i], image[i]) << "byte " << i;
                }
            }
        }
    }
    EXPECT_GT(failures, runs / 2);
}

}  // namespace
}  // namespace zelko
