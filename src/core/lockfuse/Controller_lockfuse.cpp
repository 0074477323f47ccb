// Reading, programming and verifying the lock, fuse and boot lock bits. Every
// operation runs its own session at the base line speed: these few bytes gain
// nothing from a faster line, and a board left at 19200 bit/s is the safest
// state to end in.
#include <algorithm>
#include <cstring>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/link/Clock.h"
#include "core/lockfuse/LockFuse.h"

namespace zelko {
namespace {

constexpr uint8_t kAck = 0x0D;
constexpr uint8_t kCmdWrite = '4';  // four-byte instruction, acknowledged
constexpr uint8_t kCmdRead = '5';   // three-byte instruction, the chip's fourth byte back

constexpr int kLockWriteWaitMs = 40;
constexpr int kAt89sLevelWaitMs = 250;

void SetInstructionBit(std::array<uint8_t, 4>& instr, const BitPlace& place, bool set)
{
    if (!place.used() || place.byteIndex < 0 || place.byteIndex > 3 || place.bit < 0 ||
        place.bit > 7)
        return;
    const uint8_t mask = static_cast<uint8_t>(1u << place.bit);
    uint8_t& b = instr[static_cast<size_t>(place.byteIndex)];
    b = set ? static_cast<uint8_t>(b | mask) : static_cast<uint8_t>(b & ~mask);
}

// A bit of a byte read back; a position outside 0..7 counts as unprogrammed.
bool BitIsOne(uint8_t value, int32_t position)
{
    if (position < 0 || position > 7)
        return true;
    return ((value >> position) & 1u) != 0;
}

int ClampLockMode(int mode) { return std::clamp(mode, 0, 3); }

bool IsAt89s8253(const DeviceRecord& d) { return std::strcmp(d.name, "AT89S8253") == 0; }

// Sends a board command with its instruction bytes as one write.
bool SendCommand(SerialPort& port, uint8_t command, const uint8_t* bytes, size_t n)
{
    uint8_t frame[5] = {command, 0, 0, 0, 0};
    std::memcpy(frame + 1, bytes, std::min<size_t>(n, 4));
    return port.SendBytes(n + 1, frame);
}

// -1 when no reply arrived.
int ReceiveOne(SerialPort& port)
{
    const uint8_t* r = port.Receive(1);
    return r ? r[0] : -1;
}

// Opens the session at the base speed. A session that failed half-way may
// have left the port open; nothing more is sent on it, so it is closed here.
bool OpenSession(Controller& c)
{
    if (c.EnterProgrammingMode(c.comPort, 0))
        return true;
    c.serialPort.Close();
    return false;
}

}  // namespace

std::array<uint8_t, 4> AvrLockWriteInstruction(const LockFuseTable& t, const LockFuseSettings& s)
{
    std::array<uint8_t, 4> instr = t.lockWriteInstruction;
    const int mode = ClampLockMode(s.lockMode);
    SetInstructionBit(instr, t.lockWriteBits[0], mode == 0);
    SetInstructionBit(instr, t.lockWriteBits[1], mode <= 1);
    for (int i = 0; i < std::min(t.bootLockCount, 4); ++i)
        SetInstructionBit(instr, BitPlace{3, t.bootLockBits[static_cast<size_t>(i)]},
                          s.bootLocks[static_cast<size_t>(i)] != 1);
    return instr;
}

std::array<uint8_t, 4> At89s8253LockWriteInstruction(const LockFuseTable& t, int lockMode)
{
    std::array<uint8_t, 4> instr = t.lockWriteInstruction;
    const int mode = ClampLockMode(lockMode);
    SetInstructionBit(instr, t.lockWriteBits[0], mode < 3);
    SetInstructionBit(instr, t.lockWriteBits[1], mode < 2);
    SetInstructionBit(instr, t.lockWriteBits[2], mode < 1);
    return instr;
}

int DecodeAvrLockMode(const LockFuseTable& t, uint8_t lockByte, bool& unrecognized)
{
    unrecognized = false;
    const bool lb1 = BitIsOne(lockByte, t.lockReadBits[0]);
    const bool lb2 = BitIsOne(lockByte, t.lockReadBits[1]);
    if (lb1 && lb2)
        return 0;
    if (!lb1 && lb2)
        return 1;
    if (!lb1 && !lb2)
        return 2;
    unrecognized = true;
    return 0;
}

int DecodeAt89sLockMode(bool isAt89s8253, uint8_t lockByte)
{
    if (isAt89s8253) {
        switch (lockByte & 0x07) {
        case 0: return 3;
        case 4: return 2;
        case 6: return 1;
        default: return 0;
        }
    }
    // Each level programs one more bit, LB1 at bit 2 up to LB3 at bit 4, so the
    // highest bit read as 1 names the mode.
    if (lockByte & 0x10)
        return 3;
    if (lockByte & 0x08)
        return 2;
    if (lockByte & 0x04)
        return 1;
    return 0;
}

std::string LockFuseSafetyWarning(const LockFuseTable& t, const LockFuseSettings& s)
{
    const int count = std::clamp(t.fuseCount, 0, 24);
    auto nameOf = [&](int i) -> const char* {
        const char* n = t.fuseNames[static_cast<size_t>(i)];
        return n ? n : "";
    };
    bool clockCheck = count >= 4;
    for (int i = 0; i < 4 && clockCheck; ++i) {
        const std::string expected = "CKSEL" + std::to_string(i);
        clockCheck = expected == nameOf(i);
    }

    std::string lines;
    for (int i = 0; i < count; ++i) {
        const bool programmed = s.fuses[static_cast<size_t>(i)] == 1;
        const int rec = t.recommended[static_cast<size_t>(i)];
        if (rec == -1 && programmed)
            lines += Format(1002, nameOf(i));
        else if (rec == 1 && !programmed)
            lines += Format(1003, nameOf(i));
    }
    if (clockCheck && s.fuses[0] == 1 && s.fuses[1] == 1 && s.fuses[2] == 1 && s.fuses[3] == 1)
        lines += Translate(1165);
    if (lines.empty())
        return {};
    return Translate(1001) + lines + Translate(1004);
}

std::string LockFuseDifferenceText(const DeviceRecord& device, const LockFuseSettings& expected,
                                   const LockFuseSettings& actual)
{
    if (actual == expected)
        return {};
    std::string text = Translate(1160);
    if (expected.lockMode != actual.lockMode)
        text += Format(1161, LockModeName(device.interfaceKind, expected.lockMode),
                       LockModeName(device.interfaceKind, actual.lockMode));
    if (device.lockFuseTableIndex < 0)
        return text;
    const LockFuseTable& t = LockFuseTableAt(device.lockFuseTableIndex);
    auto line = [&](bool programmed, const char* name) {
        text += Format(programmed ? 1163 : 1162, name ? name : "");
    };
    for (int i = 0; i < std::clamp(t.fuseCount, 0, 32); ++i) {
        const size_t k = static_cast<size_t>(i);
        if (expected.fuses[k] != actual.fuses[k])
            line(actual.fuses[k] == 1, t.fuseNames[k]);
    }
    for (int j = 0; j < std::clamp(t.bootLockCount, 0, 4); ++j) {
        const size_t k = static_cast<size_t>(j);
        if (expected.bootLocks[k] != actual.bootLocks[k])
            line(actual.bootLocks[k] == 1, t.bootLockNames[k]);
    }
    return text;
}

bool Controller::ReadLockFuse(LockFuseSettings& result)
{
    result = LockFuseSettings{};
    const DeviceRecord& dev = SelectedDevice();
    if (dev.lockFuseTableIndex < 0)
        return false;
    const LockFuseTable& t = LockFuseTableAt(dev.lockFuseTableIndex);
    const bool avr = dev.interfaceKind == kInterfaceAvr;

    // Reads the signature inside the open session; on a mismatch the user
    // decides. False (with the session closed and reported) ends the read.
    auto checkSignature = [&](WaitCursor& cursor, int readFailureMessage) {
        if (!ReadSignatureBytes()) {
            cursor.Restore();
            LeaveProgrammingMode();
            ReportMessage(Translate(readFailureMessage));
            return false;
        }
        const auto& sig = lastSignature;
        if (!SignatureBelongsTo(dev, sig[0], sig[1], sig[2]) && !Ask(Translate(1049))) {
            cursor.Restore();
            LeaveProgrammingMode();
            ShowStatus(Translate(1106));
            return false;
        }
        return true;
    };

    if (!t.lockReadable) {
        if (avr) {
            ShowStatus(Translate(1107));
            WaitCursor cursor(Ui());
            if (!OpenSession(*this))
                return false;
            if (!checkSignature(cursor, 1027))
                return false;
            cursor.Restore();
            if (!LeaveProgrammingMode())
                ReportMessage(Translate(1026));
        }
        ReportMessage(Translate(1059));
        return true;
    }

    result.readable = true;
    WaitCursor cursor(Ui());
    if (!OpenSession(*this))
        return false;

    auto connectionError = [&] {
        cursor.Restore();
        LeaveProgrammingMode();
        ReportMessage(Translate(1027));
        return false;
    };
    // Sends a read instruction; -1 when it could not be sent or no byte came.
    auto readByte = [&](const uint8_t* instruction) {
        if (!SendCommand(serialPort, kCmdRead, instruction, 3))
            return -1;
        return ReceiveOne(serialPort);
    };

    if (avr) {
        if (!checkSignature(cursor, 1105))
            return false;
        const int lock = readByte(t.lockReadInstruction.data());
        if (lock < 0)
            return connectionError();
        bool unrecognized = false;
        result.lockMode = DecodeAvrLockMode(t, static_cast<uint8_t>(lock), unrecognized);
        if (unrecognized)
            ReportMessage(Translate(1158));
        DecodeBootLocks(t, static_cast<uint8_t>(lock), result);

        if (t.fuseCount > 0) {
            const int low = readByte(t.lowReadInstruction.data());
            if (low < 0)
                return connectionError();
            DecodeFuseByte(t, FuseByte::Low, static_cast<uint8_t>(low), result);
            const std::pair<const FuseByteDescriptor*, FuseByte> upper[] = {
                {&t.high, FuseByte::High}, {&t.extended, FuseByte::Extended}};
            for (const auto& [desc, which] : upper) {
                if (!desc->present)
                    continue;
                const int value = readByte(desc->readInstruction.data());
                if (value < 0)
                    return connectionError();
                DecodeFuseByte(t, which, static_cast<uint8_t>(value), result);
            }
        }
    } else {
        const int lock = readByte(t.lockReadInstruction.data());
        if (lock < 0)
            return connectionError();
        result.lockMode = DecodeAt89sLockMode(IsAt89s8253(dev), static_cast<uint8_t>(lock));
        if (t.lowReadable) {
            const int fuses = readByte(t.lowReadInstruction.data());
            if (fuses < 0)
                return connectionError();
            DecodeFuseByte(t, FuseByte::Low, static_cast<uint8_t>(fuses), result);
        }
    }

    cursor.Restore();
    if (!LeaveProgrammingMode())
        ReportMessage(Translate(1026));
    return true;
}

LockFuseProgramOutcome ProgramLockFuseDetailed(Controller& c, const LockFuseSettings& settings,
                                               bool quiet)
{
    LockFuseProgramOutcome out;
    const DeviceRecord& dev = c.SelectedDevice();
    if (dev.lockFuseTableIndex < 0) {
        out.errorReported = true;
        return out;
    }
    const LockFuseTable& t = LockFuseTableAt(dev.lockFuseTableIndex);
    SerialPort& port = c.serialPort;
    WaitCursor cursor(c.Ui());

    auto error = [&](int id) {
        c.ReportMessage(Translate(id));
        out.errorReported = true;
    };
    auto closeSession = [&] {
        if (!c.LeaveProgrammingMode())
            c.ReportMessage(Translate(1026));
    };
    // Sends a write instruction and takes its one-byte reply, after `waitMs`.
    // 0 acknowledged, 1 not sent, 2 no or a wrong reply.
    auto write = [&](const std::array<uint8_t, 4>& instr, int waitMs) {
        if (!SendCommand(port, kCmdWrite, instr.data(), 4))
            return 1;
        if (waitMs > 0)
            SleepMs(waitMs);
        return ReceiveOne(port) == kAck ? 0 : 2;
    };

    if (c.comPort == 0) {
        c.ShowStatus(Translate(1031));
        if (quiet)
            c.WriteQuietLog(std::string(Translate(1032)) + "\n");
        else
            c.ReportMessage(Translate(1032));
        out.errorReported = true;
    } else {
        if (!OpenSession(c))
            return out;

        if (dev.interfaceKind == kInterfaceAvr) {
            bool fuseFailed = false;
            // A byte that fails stops the rest: the lock bits are not written
            // on top of fuses in an unknown state.
            auto writeFuse = [&](const std::array<uint8_t, 4>& instr) {
                const int r = write(instr, 0);
                if (r == 0) {
                    c.ShowStatus(Translate(1109));
                    return true;
                }
                error(r == 1 ? 1027 : 1108);
                fuseFailed = true;
                return false;
            };
            if (t.fuseCount > 0 && writeFuse(FillFuseWriteInstruction(t, FuseByte::Low, settings))) {
                const std::pair<const FuseByteDescriptor*, FuseByte> upper[] = {
                    {&t.high, FuseByte::High}, {&t.extended, FuseByte::Extended}};
                for (const auto& [desc, which] : upper) {
                    if (!desc->present)
                        c.ShowStatus(Translate(1109));
                    else if (!writeFuse(FillFuseWriteInstruction(t, which, settings)))
                        break;
                }
            }
            bool anyBootLock = false;
            for (int i = 0; i < std::min(t.bootLockCount, 4); ++i)
                anyBootLock = anyBootLock || settings.bootLocks[static_cast<size_t>(i)] == 1;
            if (!fuseFailed && (ClampLockMode(settings.lockMode) != 0 || anyBootLock)) {
                const int r = write(AvrLockWriteInstruction(t, settings), kLockWriteWaitMs);
                if (r == 0)
                    c.ShowStatus(Translate(1109));
                else
                    error(r == 1 ? 1027 : 1108);
            }
            closeSession();
        } else if (IsAt89s8253(dev)) {
            const int r = write(At89s8253LockWriteInstruction(t, settings.lockMode),
                                kLockWriteWaitMs);
            if (r != 0) {
                error(r == 1 ? 1027 : 1108);
            } else {
                c.ShowStatus(Translate(1109));
                // The fuse byte is written whatever its states: the chip has no
                // way to leave it as it is.
                const int f = write(FillFuseWriteInstruction(t, FuseByte::Low, settings),
                                    kLockWriteWaitMs);
                if (f == 0)
                    c.ShowStatus(Translate(1109));
                else
                    error(f == 1 ? 1027 : 1108);
            }
            closeSession();
        } else {
            bool failed = false;
            const std::array<uint8_t, 4>& base = t.lockWriteInstruction;
            for (int level = 1; level <= ClampLockMode(settings.lockMode); ++level) {
                const std::array<uint8_t, 4> instr = {
                    base[0], static_cast<uint8_t>(base[1] | level), base[2], 0xFF};
                if (!SendCommand(port, kCmdWrite, instr.data(), 4)) {
                    error(1027);
                    failed = true;
                } else if (ReceiveOne(port) != kAck) {
                    failed = true;
                }
                SleepMs(kAt89sLevelWaitMs);
            }
            closeSession();
            if (failed)
                error(1108);
            else
                c.ShowStatus(Translate(1109));
        }
    }

    cursor.Restore();
    if (!quiet && !out.errorReported)
        c.ReportMessage(Translate(1109));
    out.result = true;
    return out;
}

bool Controller::ProgramLockFuse(const LockFuseSettings& settings, bool quiet)
{
    return ProgramLockFuseDetailed(*this, settings, quiet).result;
}

void Controller::VerifyLockFuse(const LockFuseSettings& expected)
{
    LockFuseSettings actual;
    if (!ReadLockFuse(actual))
        return;
    const std::string diff = LockFuseDifferenceText(SelectedDevice(), expected, actual);
    if (diff.empty())
        Ui().ShowBox(Translate(1159), Translate(1016), BoxIcon::Information);
    else
        Ui().ShowBox(diff, Translate(1016), BoxIcon::Error);
}

}  // namespace zelko
