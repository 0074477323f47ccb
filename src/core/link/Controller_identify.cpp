// Asking the hardware who it is: the chip's signature and calibration bytes,
// the board's name and serial number.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/link/Clock.h"

namespace zelko {
namespace {

constexpr uint8_t kAck = 0x0D;

bool IsAt89s(const DeviceRecord& d)
{
    return d.interfaceKind == kInterfaceAt89s || d.interfaceKind == kInterfaceAt89s8253;
}

bool IsAt89s8253(const DeviceRecord& d)
{
    return std::strcmp(d.name, "AT89S8253") == 0;
}

bool IsLockedSignature(const std::array<int, 3>& s)
{
    return s[0] == 0x00 && s[1] == 0x01 && s[2] == 0x02;
}

bool ContainsBootloader(const std::string& name)
{
    std::string lower(name.size(), '\0');
    std::transform(name.begin(), name.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find("bootloader") != std::string::npos;
}

// One three-byte instruction through the board; the chip's answer byte, or -1.
int ChipQuery(SerialPort& port, uint8_t b1, uint8_t b2, uint8_t b3)
{
    const uint8_t cmd[4] = {'5', b1, b2, b3};
    if (!port.SendBytes(4, cmd))
        return -1;
    const uint8_t* r = port.Receive(1);
    return r ? r[0] : -1;
}

// The board-info read; `serialRead` tells whether the serial number came.
bool ReadBoardInfoImpl(Controller& c, std::string* nameOut, std::array<uint8_t, 5>* serialOut,
                       bool updateMode, bool* serialRead)
{
    SerialPort& port = c.serialPort;
    if (serialRead)
        *serialRead = false;
    if (nameOut)
        *nameOut = Translate(1029);
    c.ShowStatus(Translate(1030));
    if (c.comPort == 0) {
        c.ShowStatus(Translate(1031));
        c.ReportMessage(Translate(1032));
        return false;
    }
    WaitCursor cursor(c.Ui());
    if (!c.ConnectAndIdentify(c.comPort, updateMode, true, false, updateMode))
        return false;

    std::string serialText;
    if (!port.SendByte('?')) {
        c.ShowStatus(Translate(1027));
        c.ReportMessage(Translate(1027));
        return false;
    }
    SleepMs(50);
    const uint8_t* r = port.Receive(1);
    if (!r || r[0] == 0) {
        c.ShowStatus(Translate(1033));
        c.ReportMessage(Translate(1033));
        return false;
    }
    const size_t length = r[0];
    std::string name = Translate(1034);
    SleepMs(50);
    r = port.Receive(length + 1);
    if (!r || r[length] != kAck) {
        c.ShowStatus(Translate(1033));
        c.ReportMessage(Translate(1033));
        c.CloseWithEscape();
        return false;
    }
    const std::string received(reinterpret_cast<const char*>(r), length);
    if (!updateMode && ContainsBootloader(received)) {
        c.ReportMessage(Translate(1197));
        c.CloseWithEscape();
        return false;
    }
    name = received;

    if (!port.SendByte('N')) {
        c.ReportMessage(Translate(1035));
    } else {
        r = port.Receive(6);
        if (!r || r[5] != kAck) {
            c.ReportMessage(Translate(1035));
            c.CloseWithEscape();
            return false;
        }
        if (serialOut)
            std::copy(r, r + 5, serialOut->begin());
        if (serialRead)
            *serialRead = true;
        serialText = Format(1036, r[0], r[1], r[2], r[3], r[4]);
    }
    if (!c.CloseWithEscape())
        c.ReportMessage(Translate(1026));
    c.ShowStatus(FormatText("%s%s", name.c_str(), serialText.c_str()));
    if (nameOut)
        *nameOut = name;
    return true;
}

}  // namespace

bool Controller::ReadSignatureBytes()
{
    lastSignature = {0xFF, 0xFF, 0xFF};
    for (int i = 0; i < 3; ++i) {
        const int b = ChipQuery(serialPort, 0x30, 0x00, static_cast<uint8_t>(i));
        if (b < 0)
            return false;
        lastSignature[i] = b;
    }
    return true;
}

int Controller::CheckTargetSignature()
{
    if (!ReadSignatureBytes()) {
        ReportMessage(Translate(1120));
        return -1;
    }
    if (IsLockedSignature(lastSignature))
        return 2;
    // Several records share a signature (the ATA parts and the ATmega they are
    // built on): the chip matches when it carries the selected record's own
    // signature, whichever record the table lists first.
    const auto& s = lastSignature;
    return SignatureBelongsTo(SelectedDevice(), s[0], s[1], s[2]) ? 0 : 1;
}

void Controller::OnReadSignature()
{
    ShowStatus(Translate(1110));
    WaitCursor cursor(ui_);
    if (comPort == 0) {
        ShowStatus(Translate(1031));
        ReportMessage(Translate(1032));
        return;
    }
    if (!EnterProgrammingMode(comPort, baudIndex))
        return;

    const DeviceRecord& device = SelectedDevice();
    bool complete = true;
    if (IsAt89s(device)) {
        lastSignature = {0xFF, 0xFF, 0xFF};
        for (int i = 0; i < 3 && complete; ++i) {
            const int b = IsAt89s8253(device)
                              ? ChipQuery(serialPort, 0x28, 0x00, static_cast<uint8_t>(0x30 + i))
                              : ChipQuery(serialPort, 0x28, static_cast<uint8_t>(i), 0x00);
            if (b < 0)
                complete = false;
            else
                lastSignature[i] = b;
        }
    } else {
        complete = ReadSignatureBytes();
    }
    if (!complete) {
        LeaveProgrammingMode();
        ShowStatus(Translate(1078));
        ReportMessage(Translate(1078));
        return;
    }
    if (!LeaveProgrammingMode())
        ReportMessage(Translate(1026));

    const std::array<int, 3>& s = lastSignature;
    std::string name;
    if (SignatureBelongsTo(device, s[0], s[1], s[2])) {
        name = device.name;
    } else if (const int index = FindBySignature(s[0], s[1], s[2]); index >= 0) {
        name = DeviceAt(index).name;
        SelectDeviceAsUser(index);
    } else if (s[0] == 0x1E || s[0] == 0x1F) {
        name = Translate(1079);
    } else if (IsLockedSignature(s)) {
        ShowStatus(Translate(1111));
        return;
    } else {
        name = Translate(1081);
    }
    ShowStatus(Format(1061, s[0], s[1], s[2], name.c_str()));
}

void Controller::OnReadCalibration()
{
    WaitCursor cursor(ui_);
    if (!EnterProgrammingMode(comPort, 0))
        return;
    ShowStatus(Translate(1141));
    SleepMs(40);

    const int count = std::clamp(SelectedDevice().calibrationCount, 0, 4);
    std::array<uint8_t, 4> bytes{};
    for (int j = 0; j < count; ++j) {
        const uint8_t cmd[4] = {'5', 0x38, 0x00, static_cast<uint8_t>(j)};
        if (!serialPort.SendBytes(4, cmd)) {
            ShowStatus(Translate(1140));
            LeaveProgrammingMode();
            ShowStatus(Translate(1140));
            cursor.Restore();
            ReportMessage(Translate(1027));
            return;
        }
        const uint8_t* r = serialPort.Receive(1);
        if (!r) {
            LeaveProgrammingMode();
            ShowStatus(Translate(1140));
            cursor.Restore();
            ReportMessage(Translate(1027));
            return;
        }
        bytes[j] = r[0];
    }

    std::string box = Translate(count < 2 ? 1070 : 1169);
    std::string status = Translate(count < 2 ? 1181 : 1182);
    int mhz = 1;
    for (int j = 0; j < count; ++j) {
        box += FormatText("\n    %d MHz: 0x%02X", mhz, bytes[j]);
        status += FormatText(" %02X", bytes[j]);
        mhz *= 2;
    }
    ShowStatus(status);
    ReportMessage(box);
    LeaveProgrammingMode();
}

bool Controller::ReadBoardInfo(std::string* nameOut, std::array<uint8_t, 5>* serialOut,
                               bool updateMode)
{
    return ReadBoardInfoImpl(*this, nameOut, serialOut, updateMode, nullptr);
}

void Controller::OnProgrammerInfo()
{
    std::string name;
    std::array<uint8_t, 5> serial{};
    bool serialRead = false;
    if (!ReadBoardInfoImpl(*this, &name, &serial, false, &serialRead))
        return;
    if (serialRead)
        ReportPlainMessage(
            Format(1069, name.c_str(), serial[0], serial[1], serial[2], serial[3], serial[4]));
    else
        ReportPlainMessage(Format(2027, name.c_str()));
}

}  // namespace zelko
