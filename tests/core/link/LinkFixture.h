// A Controller wired to a scripted serial line, with helpers that script a
// healthy board.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/devices/DeviceTable.h"
#include "core/link/FakeTransport.h"
#include "support/TestSupport.h"

namespace zelko::test {

using namespace std::string_literals;

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        line->Attach(c.serialPort);
        c.comPort = 1;
        Select("ATmega8/8A");
    }
    void TearDown() override { SetSleeper(nullptr); }

    void Select(const char* name)
    {
        const int index = FindByName(name);
        ASSERT_GE(index, 0) << name;
        c.projectSettings.DeviceIndex = index;
    }

    // The board's answers to a session set-up up to the mode packet.
    void BoardUntilMode(const std::string& version = "10c")
    {
        line->OnWrites({"+", version, "", "\r", "", "", "\r", "\r"});
    }
    // ... then an AVR's reset strobe and programming enable.
    void AvrStrobe() { line->OnWrites({"\r", "\r", "\r", "\r", "\x53"}); }
    // The board's answers to leaving programming mode.
    void BoardLeave() { line->OnWrites({"\r", "\r"}); }
    void HealthyAvrSession()
    {
        BoardUntilMode();
        AvrStrobe();
    }

    std::vector<std::string> Statuses() const { return ui.Texts(UiEvent::Status); }
    std::vector<std::string> Boxes() const { return ui.Texts(UiEvent::Box); }
    static std::string T(int id) { return Translate(id); }
    bool Sent(const std::string& tx) const
    {
        for (const std::string& t : line->trace)
            if (t == tx)
                return true;
        return false;
    }

    RecordingUi ui;
    Controller c{ui};
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
};

}  // namespace zelko::test
