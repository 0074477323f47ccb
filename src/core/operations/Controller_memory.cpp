// The memory commands: chip erase, program / read / verify of Flash and
// EEPROM, blank check and the board's firmware update. Each opens its own link
// session, runs one transfer behind the progress view and closes the session
// on every path.
#include <algorithm>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/devices/DeviceTable.h"
#include "core/link/Clock.h"
#include "core/operations/FirmwareImage.h"
#include "core/operations/ZI1Operations.h"

namespace zelko {
namespace {

bool HavePort(Controller& c)
{
    if (c.comPort != 0)
        return true;
    c.ShowStatus(Translate(1031));
    c.ReportMessage(Translate(1032));
    return false;
}

bool OpenSession(Controller& c, int speedIndex)
{
    if (c.EnterProgrammingMode(c.comPort, speedIndex))
        return true;
    if (c.serialPort.IsOpen())
        c.LeaveProgrammingMode();
    return false;
}

void CloseSession(Controller& c)
{
    if (!c.LeaveProgrammingMode())
        c.ReportMessage(Translate(1026));
}

// Runs an operation on a buffer: the preview shows it busy meanwhile.
int RunOnBuffer(MemoryBuffer& b, CProgressDlg& op)
{
    b.Busy = true;
    b.RefreshPreview();
    const int r = op.DoModal();
    b.Busy = false;
    b.RefreshPreview();
    return r;
}

void Epilogue(Controller& c, MemoryBuffer& b)
{
    b.RefreshPreview();
    CloseSession(c);
    b.RefreshPreview();
}

struct MemoryTexts {
    int cancelled, errorBox, errorStatus, done;
};

void ProgramBuffer(Controller& c, bool eeprom, WaitCursor& cursor)
{
    MemoryBuffer& b = c.Buffer(eeprom);
    const DeviceRecord& d = c.SelectedDevice();
    const MemoryTexts t = eeprom ? MemoryTexts{1094, 1095, 1095, 1055}
                                 : MemoryTexts{1083, 1084, 1051, 1052};
    const int limit = eeprom ? d.eepromSize : d.flashSize;

    ZI1ProgramData op(c, &c.projectSettings);
    op.buffer = &b;
    op.isFlash = !eeprom;
    op.writeCommand = eeprom ? kCmdWriteEeprom : kCmdWriteFlash;
    op.limit = limit;
    const int r = RunOnBuffer(b, op);

    if (r != 0 && op.UserCancelled()) {
        c.ShowStatus(Translate(t.cancelled));
    } else if (r == kOpBoardCondition) {
        c.ReportMessage(Translate(1164));
        c.ShowStatus(Translate(1164));
    } else if (r != 0) {
        cursor.Restore();
        c.ReportMessage(Translate(t.errorBox));
        c.ShowStatus(Translate(t.errorStatus));
    } else {
        c.ShowStatus(Format(t.done, std::min(b.Length, limit)));
        c.LastCommandResult = 0;
    }
    Epilogue(c, b);

    // The next chip gets the next number, whatever became of this one.
    const ProjectSettings& p = c.projectSettings;
    const bool increment = eeprom ? p.AutoIncrement : p.AutoIncrementFlash;
    if (increment && b.FileName != kUnspecified && !b.Data.empty() && !b.States.empty())
        b.IncrementCounter(eeprom ? p.AutoIncAddress : p.AutoIncAddressFlash);
}

void ReadBuffer(Controller& c, bool eeprom)
{
    MemoryBuffer& b = c.Buffer(eeprom);
    const DeviceRecord& d = c.SelectedDevice();
    WaitCursor cursor(c.Ui());
    if (!HavePort(c))
        return;
    b.CreateBuffer(eeprom ? d.eepromSize : d.flashSize);
    if (!OpenSession(c, c.baudIndex))
        return;

    ZI1ReadData op(c, &c.projectSettings);
    op.buffer = &b;
    op.isFlash = !eeprom;
    op.readCommand = eeprom ? kCmdReadEeprom : kCmdReadFlash;
    const int r = RunOnBuffer(b, op);
    if (r != 0 && op.UserCancelled()) {
        c.ShowStatus(Translate(eeprom ? 1097 : 1086));
    } else if (r != 0) {
        c.ReportMessage(Translate(eeprom ? 1098 : 1087));
        c.ShowStatus(Translate(eeprom ? 1098 : 1088));
    } else {
        c.ShowStatus(Translate(eeprom ? 1099 : 1089));
    }
    Epilogue(c, b);
    c.ReportLength(b);
}

void VerifyBuffer(Controller& c, bool eeprom)
{
    MemoryBuffer& b = c.Buffer(eeprom);
    const DeviceRecord& d = c.SelectedDevice();
    c.LastCommandResult = -1;
    (eeprom ? c.EepromVerifyPassed : c.FlashVerifyPassed) = false;
    c.ShowStatus(Translate(eeprom ? 1100 : 1090));
    if (b.Length <= 0 || b.Data.empty()) {
        c.ShowStatus(Translate(eeprom ? 1101 : 1091));
        return;
    }
    if (eeprom && d.eepromSize == 0) {
        c.ShowStatus(Translate(1102));
        return;
    }
    WaitCursor cursor(c.Ui());
    if (!HavePort(c) || !OpenSession(c, c.baudIndex))
        return;

    const int limit = eeprom ? d.eepromSize : d.flashSize;
    ZI1VerifyData op(c, &c.projectSettings);
    op.buffer = &b;
    op.isFlash = !eeprom;
    op.readCommand = eeprom ? kCmdReadEeprom : kCmdReadFlash;
    op.limit = limit;
    op.matches = true;
    c.FirstMismatch = -1;
    const int r = RunOnBuffer(b, op);
    c.FirstMismatch = op.firstMismatch;
    if (r != 0 && op.UserCancelled()) {
        c.ShowStatus(Translate(eeprom ? 1103 : 1092));
    } else if (r != 0) {
        const std::string text = Translate(eeprom ? 1104 : 1093);
        c.ReportMessage(text);
        c.ShowStatus(text);
    } else if (op.matches) {
        c.ShowStatus(Format(eeprom ? 1056 : 1053, std::min(b.Length, limit)));
        (eeprom ? c.EepromVerifyPassed : c.FlashVerifyPassed) = true;
        c.LastCommandResult = 0;
    } else {
        c.ShowStatus(Format(eeprom ? 1057 : 1054, c.FirstMismatch, c.FirstMismatch));
    }
    Epilogue(c, b);
}

}  // namespace

void Controller::OnProgramFlash()
{
    LastCommandResult = -1;
    ShowStatus(Translate(1072));
    if (!flashBuffer.HasData()) {
        // Nothing to write: saying "Done (0 bytes programmed)" would pass an
        // empty image off as a programmed chip.
        ShowStatus(Translate(1091));
        return;
    }
    WaitCursor cursor(Ui());
    if (!HavePort(*this) || !OpenSession(*this, baudIndex))
        return;

    const DeviceRecord& d = SelectedDevice();
    if (projectSettings.CheckSign) {
        const int check = CheckTargetSignature();
        bool proceed = true;
        if (check == -1) {
            ShowStatus(Translate(1047));
            ReportMessage(Translate(1047));
            LeaveProgrammingMode();
            return;
        }
        if (check == 1 && d.interfaceKind == kInterfaceAvr)
            proceed = Ask(Translate(1048), true);
        if (check == 2) {
            proceed = Ask(Translate(1050), false);
            if (proceed) {
                const bool avr = d.interfaceKind == kInterfaceAvr;
                const uint8_t avrErase[] = {'4', 0xAC, 0x80, 0x04, 0x00};
                const uint8_t otherErase[] = {'3', 0xAC, 0x04, 0x00, 0x00};
                bool ok = serialPort.SendBytes(5, avr ? avrErase : otherErase);
                if (ok) {
                    // The chip needs its erase time before it takes data.
                    SleepMs(10);
                    const uint8_t* reply = serialPort.Receive(1);
                    ok = reply && reply[0] == 0x0D;
                }
                if (!ok) {
                    LeaveProgrammingMode();
                    ReportMessage(Translate(1027));
                    cursor.Restore();
                    ShowStatus(Translate(1027));
                    return;
                }
                SleepMs(15);
            }
        }
        if (!proceed) {
            LastCommandResult = -1;
            LeaveProgrammingMode();
            ShowStatus(Translate(1083));
            return;
        }
    }
    ProgramBuffer(*this, false, cursor);
}

void Controller::OnProgramEeprom()
{
    LastCommandResult = -1;
    const DeviceRecord& d = SelectedDevice();
    if (d.eepromSize == 0) {
        ShowStatus(Translate(1102));
        return;
    }
    if (!eepromBuffer.HasData()) {
        ShowStatus(Translate(1101));
        return;
    }
    WaitCursor cursor(Ui());
    if (!HavePort(*this) || !OpenSession(*this, baudIndex))
        return;
    ShowStatus(Translate(1073));
    ProgramBuffer(*this, true, cursor);
}

void Controller::OnReadFlash()
{
    ShowStatus(Translate(1085));
    ReadBuffer(*this, false);
}

void Controller::OnReadEeprom()
{
    ShowStatus(Translate(1096));
    if (SelectedDevice().eepromSize == 0) {
        ShowStatus(Translate(1058));
        return;
    }
    ReadBuffer(*this, true);
}

void Controller::OnVerifyFlash()
{
    VerifyBuffer(*this, false);
}

void Controller::OnVerifyEeprom()
{
    VerifyBuffer(*this, true);
}

void Controller::OnChipErase()
{
    LastCommandResult = -1;
    ShowStatus(Translate(1075));
    WaitCursor cursor(Ui());
    if (!HavePort(*this) || !OpenSession(*this, 0))
        return;

    const DeviceRecord& d = SelectedDevice();
    const uint8_t erase[] = {'4', 0xAC, 0x80, 0x04, 0x00};
    bool ok = true;
    if (std::string_view(d.name) == "ATtiny26") {
        // This chip erases only after its first Flash byte has been written.
        const uint8_t writeLow[] = {'4', 0x40, 0x00, 0x00, 0xFF};
        const uint8_t* r = nullptr;
        ok = serialPort.SendBytes(5, erase) && (r = serialPort.Receive(1)) && r[0] == 0x0D;
        if (ok)
            SleepMs(7);
        ok = ok && serialPort.SendBytes(5, writeLow) && (r = serialPort.Receive(1)) && r[0] == 0x0D;
    }
    ok = ok && serialPort.SendBytes(5, erase);
    if (ok) {
        SleepMs(10);
        const uint8_t* r = serialPort.Receive(1);
        ok = r && r[0] == 0x0D;
    }
    if (!ok) {
        LeaveProgrammingMode();
        ReportMessage(Translate(1027));
        cursor.Restore();
        ShowStatus(Translate(1027));
        return;
    }
    SleepMs(15);
    LeaveProgrammingMode();

    if (d.interfaceKind != kInterfaceAvr) {
        ShowStatus(Translate(1046));
        LastCommandResult = 0;
        return;
    }

    ShowStatus(Translate(1077));
    SleepMs(85);
    if (!OpenSession(*this, 0))
        return;
    bool locked = false;
    bool signatureRead = ReadSignatureBytes();
    if (!signatureRead) {
        ReportMessage(Translate(1078));
    } else {
        CloseSession(*this);
        const std::array<int, 3> s = lastSignature;
        std::string name;
        if (SignatureBelongsTo(d, s[0], s[1], s[2])) {
            // Records may share a signature: the selection stands when it fits.
            name = d.name;
        } else if (const int index = FindBySignature(s[0], s[1], s[2]); index >= 0) {
            name = DeviceAt(index).name;
            SelectDeviceAsUser(index);
        } else if (s[0] == 0x1E) {
            name = Translate(1079);
        } else if (s[0] == 0x00 && s[1] == 0x01 && s[2] == 0x02) {
            locked = true;
        } else {
            name = Translate(1081);
        }
        if (locked)
            ShowStatus(Translate(1044));
        else
            ShowStatus(Format(1043, s[0], s[1], s[2], name.c_str()));
    }

    LastCommandResult = locked ? -1 : 0;
    if (locked) {
        cursor.Restore();
        ReportMessage(Translate(1045));
    } else {
        // The erase was acknowledged, but without the signature nobody saw it.
        ShowStatus(Translate(signatureRead ? 1046 : 1042));
    }
    if (serialPort.IsOpen())
        CloseSession(*this);
}

void Controller::OnBlankCheck()
{
    LastCommandResult = -1;
    ShowStatus(Translate(1114));
    WaitCursor cursor(Ui());
    if (!HavePort(*this) || !OpenSession(*this, baudIndex))
        return;

    ZI1BlankCheck op(*this, &projectSettings);
    const int r = op.DoModal();
    if (r == kOpBoardCondition) {
        LastCommandResult = 1;
        ShowStatus(Translate(1115));
    } else if (r == 0) {
        LastCommandResult = 0;
        ShowStatus(Translate(1119));
    } else {
        LastCommandResult = -1;
        if (op.UserCancelled()) {
            ShowStatus(Translate(1116));
        } else {
            ReportMessage(Translate(1117));
            ShowStatus(Translate(1118));
        }
    }
    CloseSession(*this);
}

void Controller::OnUpdateFirmware()
{
    LastCommandResult = -1;
    // The image is checked before anything goes to the board: a short or
    // oversized file would leave the board without usable firmware.
    std::string tried;
    const auto image = ReadFirmwareImage(firmwareImagePath, tried);
    if (!image) {
        ReportMessage(Format(2041, tried.c_str()));
        return;
    }
    if (image->bytes.size() != kFirmwareImageSize) {
        ReportMessage(Format(2040, image->path.c_str(), static_cast<long long>(image->fileSize)));
        return;
    }
    if (!HavePort(*this))
        return;

    // The board's own text when it could be read; after a version conflict
    // the "unknown version" text the read left behind.
    std::string current;
    if (!ReadBoardInfo(&current, nullptr, true)) {
        if (bootloaderDetected)
            current = Translate(1189);
        else if (!versionConflict)
            current.clear();
    }
    ReportMessage(Translate(1195));
    const std::string newVersion = FirmwareVersionOf(image->bytes);
    if (!Ask(Format(2042, current.c_str(), newVersion.c_str()), true))
        return;

    WaitCursor cursor(Ui());
    if (!ConnectAndIdentify(comPort, true, false, false, false)) {
        serialPort.Close();
        return;
    }
    ZI1SelfProgram op(*this, nullptr);
    op.image = &image->bytes;
    const int r = op.DoModal();
    CloseWithEscape();
    if (r == 0) {
        ShowStatus(Translate(1175));
        if (!ReadBoardInfo(nullptr, nullptr, true))
            ShowStatus(Translate(1176));
        else
            LastCommandResult = 0;
    } else {
        ShowStatus(Translate(1176));
    }
}

}  // namespace zelko
