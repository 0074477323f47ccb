#include <algorithm>
#include <cstdlib>

#include "core/app/SettingsStore.h"
#include "core/link/LinkFixture.h"
#include "core/link/PortMap.h"
#include "sim/SimTransport.h"

namespace zelko::test {
namespace {

class PortMapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::RegisterBuiltInSimulator();
        sim::ResetSimBoards();
        SetSleeper([](int) {});
    }
    void TearDown() override
    {
        SetSleeper(nullptr);
        for (int n : {5, 6, 7, 200})
            SetPortOverride(n, "");
        SettingsStore().WriteString("Ports", "COM5", "");
        SettingsStore().WriteString("Ports", "COM6", "");
    }
};

TEST_F(PortMapTest, OverrideThenSettingsThenDefaultList)
{
    SettingsStore().WriteString("Ports", "COM5", "/dev/ttyUSB3");
    EXPECT_EQ(PortDevice(5), "/dev/ttyUSB3");
    SetPortOverride(5, "sim:ATtiny13/13A");
    EXPECT_EQ(PortDevice(5), "sim:ATtiny13/13A");
    SetPortOverride(5, "");
    EXPECT_EQ(PortDevice(5), "/dev/ttyUSB3");

    const std::vector<std::string> present = DefaultSerialDevices();
    for (size_t i = 0; i < present.size() && i < 4; ++i)
        EXPECT_EQ(PortDevice(static_cast<int>(i) + 1), present[i]);
    EXPECT_EQ(PortDevice(static_cast<int>(present.size()) + 1), "");
    EXPECT_EQ(PortDevice(0), "");
}

TEST_F(PortMapTest, DefaultListIsOrderedByKindThenNumber)
{
    const std::vector<std::string> present = DefaultSerialDevices();
    auto rank = [](const std::string& p) {
        const char* kinds[] = {"/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyS"};
        for (int k = 0; k < 3; ++k) {
            const std::string prefix = kinds[k];
            if (p.rfind(prefix, 0) == 0 && p.size() > prefix.size() &&
                std::all_of(p.begin() + static_cast<long>(prefix.size()), p.end(), ::isdigit))
                return std::make_pair(k, std::stol(p.substr(prefix.size())));
        }
        return std::make_pair(-1, 0L);
    };
    for (size_t i = 0; i < present.size(); ++i) {
        EXPECT_GE(rank(present[i]).first, 0) << present[i];
        if (i > 0) {
            EXPECT_LT(rank(present[i - 1]), rank(present[i]));
        }
    }
}

TEST_F(PortMapTest, ControllerReachesTheSimulatorThroughTheSettings)
{
    RecordingUi ui;
    Controller c(ui);
    SettingsStore().WriteString("Ports", "COM6", "sim");
    c.comPort = 6;
    c.projectSettings.DeviceIndex = FindByName("ATtiny13/13A");
    c.OnReadSignature();
    EXPECT_EQ(ui.LastStatus(), "Signature: 1E 90 07 - ATtiny13/13A");
    EXPECT_TRUE(ui.Texts(UiEvent::Box).empty());
}

TEST_F(PortMapTest, UnmappedPortAndBadSimulatorNameSayWhy)
{
    RecordingUi ui;
    Controller c(ui);
    EXPECT_FALSE(c.EnterProgrammingMode(200, 0));
    EXPECT_EQ(ui.Texts(UiEvent::Box), (std::vector<std::string>{Translate(1173)}));
    EXPECT_EQ(ui.LastStatus(), "Cannot open COM200: " + Format(2023, 200, 200));

    // Read Calibration Bytes does not check for a configured port: port 0
    // opens nothing.
    ui.Clear();
    c.comPort = 0;
    c.OnReadCalibration();
    EXPECT_EQ(ui.Texts(UiEvent::Box), (std::vector<std::string>{Translate(1173)}));
    EXPECT_EQ(ui.Texts(UiEvent::Status).front(), Translate(1027));
    EXPECT_EQ(ui.waitCursorDepth, 0);

    ui.Clear();
    SetPortOverride(7, "sim:NoSuchChip");
    EXPECT_FALSE(c.EnterProgrammingMode(7, 0));
    EXPECT_EQ(ui.LastStatus().rfind("Cannot open sim:NoSuchChip: ", 0), 0u) << ui.LastStatus();
}

}  // namespace
}  // namespace zelko::test
