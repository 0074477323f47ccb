// The link session with the programmer board: opening and closing a
// programming session, the board-only connection, the firmware-version rules.
#include <array>
#include <chrono>
#include <cstring>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/link/Clock.h"
#include "core/link/LinkInternal.h"

namespace zelko {
namespace {

constexpr uint8_t kAck = 0x0D;
constexpr uint8_t kEsc = 0x1B;
constexpr std::array<char, 3> kRequiredVersion{'1', '0', 'c'};

// SPI clock codes by the project's SPI period index (0.5 us ... 150 us).
constexpr std::array<uint8_t, 7> kSpiCodes{0x80, 0x00, 0x81, 0x01, 0x82, 0x02, 0x03};

// A peer that keeps talking after the resynchronisation is not drained for
// ever: past these limits the link counts as failed.
constexpr int kDrainLimitMs = 3000;
constexpr int kDrainLimitBytes = 4096;

bool Acknowledged(SerialPort& port)
{
    const uint8_t* r = port.Receive(1);
    return r && r[0] == kAck;
}

}  // namespace

void ReportOpenFailureReason(Controller& c)
{
    c.ShowStatus(Format(2020, c.serialPort.DeviceName().c_str(), c.serialPort.LastError().c_str()));
}

int SynchroniseBoard(Controller& c)
{
    SerialPort& port = c.serialPort;
    const uint8_t* reply = port.Receive(1);
    if (!reply) {
        c.ReportMessage(Translate(1027));
        c.ShowStatus(Translate(1027));
        return kSyncFailed;
    }
    int r = reply[0];
    if (r != '+' && r != '*' && r != '-') {
        SleepMs(150);
        if (!port.SendByte('%')) {
            c.AbortSession();
            return kSyncFailed;
        }
        reply = port.Receive(1);
        r = reply ? reply[0] : -1;
        // Discard whatever else the board has to say, but not for ever.
        const auto start = std::chrono::steady_clock::now();
        int drained = 0;
        while (port.Receive(1)) {
            ++drained;
            const auto elapsed = std::chrono::steady_clock::now() - start;
            if (drained >= kDrainLimitBytes || elapsed >= std::chrono::milliseconds(kDrainLimitMs)) {
                c.ReportMessage(Translate(1027));
                c.ShowStatus(Translate(1027));
                c.ShowStatus(Translate(2026));
                return kSyncFailed;
            }
        }
        if (r < 0) {
            c.ReportMessage(Translate(1027));
            c.ShowStatus(Translate(1027));
            return kSyncFailed;
        }
    }
    if (r != '+' && r != '*') {
        c.ReportMessage(Translate(1197));
        c.ShowStatus(Translate(1027));
        return kSyncFailed;
    }
    return r;
}

uint8_t Controller::SpiCode() const
{
    const int i = projectSettings.SPIPeriod;
    // An index no list offers (a hand-edited project) gets the slowest clock,
    // which every chip follows.
    uint8_t code = (i >= 0 && i < static_cast<int>(kSpiCodes.size())) ? kSpiCodes[i] : kSpiCodes.back();
    if (std::strcmp(SelectedDevice().name, "AT89S8253") == 0)
        code |= 0x04;
    return code;
}

bool Controller::EnterProgrammingMode(int port, int speedIndex)
{
    bootloaderDetected = false;
    versionConflict = false;
    CurrentDevice = &SelectedDevice();
    const DeviceRecord& device = *CurrentDevice;

    if (!serialPort.Open(port - 1, 19200)) {
        ShowStatus(Translate(1027));
        ReportMessage(Translate(1173));
        ReportOpenFailureReason(*this);
        return false;
    }
    SleepMs(50);
    if (!serialPort.SendByte('%')) {
        AbortSession();
        return false;
    }
    if (SynchroniseBoard(*this) == kSyncFailed)
        return false;

    SleepMs(50);
    if (!serialPort.SendByte('@')) {
        AbortSession();
        return false;
    }
    const uint8_t* v = serialPort.Receive(3);
    if (!v) {
        AbortSession();
        return false;
    }
    const std::array<char, 3> version{static_cast<char>(v[0]), static_cast<char>(v[1]),
                                      static_cast<char>(v[2])};
    if (!CheckFirmwareVersion(version, false)) {
        LeaveProgrammingMode();
        return false;
    }

    if (!serialPort.SendByte('&') || !serialPort.SendByte(static_cast<uint8_t>(device.deviceCode)) ||
        !Acknowledged(serialPort)) {
        AbortSession();
        return false;
    }
    if (!serialPort.SendByte(':') || !serialPort.SendByte(0x00) || !serialPort.SendByte(0x00) ||
        !Acknowledged(serialPort)) {
        AbortSession();
        return false;
    }

    const uint8_t mode[4] = {'#', static_cast<uint8_t>(speedIndex), SpiCode(),
                             static_cast<uint8_t>(projectSettings.Polling ? 1 : 0)};
    if (!serialPort.SendBytes(4, mode)) {
        AbortSession();
        return false;
    }
    SleepMs(50);
    if (!Acknowledged(serialPort)) {
        AbortSession();
        return false;
    }
    SleepMs(50);

    if (speedIndex != 0) {
        // The board now listens at the new speed.
        serialPort.Close();
        SleepMs(45);
        if (!serialPort.Open(port - 1, SerialPort::BaudForIndex(speedIndex))) {
            ReportMessage(Translate(1173));
            ShowStatus(Translate(1027));
            ReportOpenFailureReason(*this);
            return false;
        }
        SleepMs(45);
    }

    static constexpr uint8_t kProgrammingEnable[5] = {'4', 0xAC, 0x53, 0x00, 0x00};
    if (device.interfaceKind == kInterfaceAt89s || device.interfaceKind == kInterfaceAt89s8253) {
        if (!serialPort.SendByte('+') || !serialPort.Receive(1)) {
            AbortSession();
            return false;
        }
        // An AT89S answers the enable instruction differently by type; the
        // board has already prepared it, so the answer is not judged.
        if (serialPort.SendBytes(5, kProgrammingEnable))
            serialPort.Receive(1);
    } else {
        const int strobe = projectSettings.ResetStrobeLength;
        ShowStatus(Format(1039, strobe));
        auto step = [this](uint8_t command) {
            return serialPort.SendByte(command) && serialPort.ReceiveByte() == kAck;
        };
        bool ok = step('Q') && step('L');
        if (ok) {
            SleepMs(strobe);
            ok = step('U');
        }
        if (ok) {
            SleepMs(strobe);
            ok = step('L');
        }
        if (!ok) {
            ShowStatus(Translate(1027));
            LeaveProgrammingMode();
            ReportMessage(Translate(1027));
            return false;
        }
        SleepMs(10);
        if (!serialPort.SendBytes(5, kProgrammingEnable) || !serialPort.Receive(1)) {
            AbortSession();
            return false;
        }
    }

    ShowStatus(Translate(1040));
    return true;
}

bool Controller::LeaveProgrammingMode()
{
    SleepMs(150);
    if (!serialPort.SendByte('-') || !Acknowledged(serialPort)) {
        serialPort.Close();
        return false;
    }
    SleepMs(150);
    // Back to 19200 bit/s, the speed every session starts with.
    const uint8_t mode[4] = {'#', 0x00, SpiCode(),
                             static_cast<uint8_t>(projectSettings.Polling ? 1 : 0)};
    const bool ok = serialPort.SendBytes(4, mode) && Acknowledged(serialPort);
    serialPort.Close();
    return ok;
}

bool Controller::ConnectAndIdentify(int port, bool openOnly, bool checkVersion, bool quiet,
                                    bool quietVersionCheck)
{
    bootloaderDetected = false;
    versionConflict = false;
    if (!serialPort.Open(port - 1, 19200)) {
        if (!quiet) {
            ShowStatus(Translate(1027));
            ReportMessage(Translate(1173));
            ReportOpenFailureReason(*this);
        }
        return false;
    }
    SleepMs(50);
    if (openOnly)
        return true;

    SleepMs(50);
    if (!serialPort.SendByte('%')) {
        AbortSession();
        return false;
    }
    if (SynchroniseBoard(*this) == kSyncFailed)
        return false;

    SleepMs(50);
    if (!serialPort.SendByte('@')) {
        if (quiet)
            return false;
        CloseWithEscape();
        ShowStatus(Translate(1027));
        ReportMessage(Translate(1027));
        return false;
    }
    SleepMs(50);
    const uint8_t* v = serialPort.Receive(3);
    if (!v) {
        boardVersion = {0, 0, 0};
        if (quiet)
            return false;
        CloseWithEscape();
        ShowStatus(Translate(1027));
        ReportMessage(Translate(1027));
        return false;
    }
    boardVersion = {static_cast<char>(v[0]), static_cast<char>(v[1]), static_cast<char>(v[2])};
    if (checkVersion && !CheckFirmwareVersion(boardVersion, quietVersionCheck)) {
        CloseWithEscape();
        return false;
    }
    return true;
}

bool Controller::CloseWithEscape()
{
    const bool sent = serialPort.SendByte(kEsc);
    serialPort.Close();
    return sent;
}

bool Controller::CheckFirmwareVersion(const std::array<char, 3>& version, bool quiet)
{
    bootloaderDetected = false;
    versionConflict = false;
    auto is = [&version](const char* text) { return std::memcmp(version.data(), text, 3) == 0; };
    if (is("err")) {
        if (!quiet) {
            ReportMessage(Translate(1168));
            ShowStatus(Translate(1027));
        }
        return false;
    }
    if (is("ldr") || is("ld2")) {
        bootloaderDetected = true;
        if (!quiet) {
            ReportMessage(Translate(1179));
            ShowStatus(Translate(1174));
        }
        return false;
    }
    if (version == kRequiredVersion)
        return true;
    versionConflict = true;
    if (!quiet) {
        ReportMessage(Format(1038, version[0], version[1], version[2], kRequiredVersion[0],
                             kRequiredVersion[1], kRequiredVersion[2]));
        ShowStatus(Translate(1174));
    }
    return false;
}

void Controller::AbortSession()
{
    LeaveProgrammingMode();
    ReportMessage(Translate(1027));
    ShowStatus(Translate(1027));
}

}  // namespace zelko
