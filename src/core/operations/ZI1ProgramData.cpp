#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/devices/DeviceTable.h"
#include "core/link/Clock.h"
#include "core/operations/ZI1Operations.h"

namespace zelko {
namespace {

void SetStates(MemoryBuffer& b, int offset, int n, ByteState state)
{
    std::lock_guard lock(BufferContentMutex());
    std::fill_n(b.States.begin() + offset, n, static_cast<uint8_t>(state));
}

}  // namespace

int ZI1ProgramData::Run()
{
    MemoryBuffer& b = *buffer;
    const int length = static_cast<int>(std::min({static_cast<size_t>(std::max(b.Length, 0)),
                                                  b.Data.size(), b.States.size()}));
    SetStates(b, 0, static_cast<int>(b.States.size()), Failed);

    if (length > limit) {
        const std::string q = Format(1028, limit, isFlash ? "Flash" : "Eeprom");
        if (!owner_.Ui().AskOkCancel(q, Translate(1025))) {
            // Nothing has been sent: a cancel, not a success of 0 bytes.
            MarkUserCancelled();
            return kOpCancelled;
        }
    }
    const int count = std::min(limit, length);
    const DeviceRecord& d = Device();
    if (d.interfaceKind == kInterfaceAt89s)
        return RunAt89sBytes(count);

    const ProjectSettings& p = *settings_;
    uint8_t code;
    if (isFlash)
        code = p.DelayByte ? DelayCode(p.DelayByteValue) : static_cast<uint8_t>(d.flashWriteDelayCode);
    else
        code = p.DelayByte2 ? DelayCode(p.DelayByteValue2)
                            : static_cast<uint8_t>(d.eepromWriteDelayCode);
    if (!SendDelayCode(code))
        return LinkError();

    if (isFlash && d.pageWords != 0)
        return RunPages(count);
    return RunBlocks(count);
}

int ZI1ProgramData::RunPages(int count)
{
    MemoryBuffer& b = *buffer;
    const DeviceRecord& d = Device();
    const ProjectSettings& p = *settings_;
    const int pageBytes = 2 * d.pageWords;
    const int quarter = pageBytes / 4;
    const int pageWriteMs = p.DelayPage ? p.DelayPageValue : d.pageWriteMs;

    BeginStage(count / pageBytes, Translate(1071), Translate(1072));
    // The address pointer is set one byte at a time, as the board expects.
    for (uint8_t c : {uint8_t(':'), uint8_t(0), uint8_t(0)})
        if (!Send({c}))
            return LinkError();
    if (ReceiveByte() != 0x0D)
        return LinkError();

    std::array<uint8_t, 2 + 256> packet{};
    std::array<uint8_t, 256> page{};
    const int pages = (count + pageBytes - 1) / pageBytes;
    for (int j = 0; j < pages; ++j) {
        const int o = j * pageBytes;
        const int n = std::min(pageBytes, count - o);
        std::memcpy(page.data(), b.Data.data() + o, n);
        std::fill(page.begin() + n, page.begin() + pageBytes, 0xFF);
        const bool erased =
            std::all_of(page.begin(), page.begin() + pageBytes, [](uint8_t v) { return v == 0xFF; });

        if (!erased || p.NoSynchronization) {
            for (int k = 0; k < 4; ++k) {
                packet[0] = writeCommand;
                packet[1] = static_cast<uint8_t>(quarter);
                std::memcpy(packet.data() + 2, page.data() + k * quarter, quarter);
                if (!SendBlock(packet.data(), quarter + 2))
                    return LinkError();
                const int reply = ReceiveByte();
                if (reply != 0x0D) {
                    LinkError();
                    return reply == 0x1B ? kOpBoardCondition : kOpLinkError;
                }
            }
            if (!SendExtendedAddress(o))
                return LinkError();
            if (!Send({'4', 0x4C, static_cast<uint8_t>((o >> 9) & 0xFF),
                       static_cast<uint8_t>((o >> 1) & 0xFF), 0x00}))
                return LinkError();
            const int reply = ReceiveByte();
            SleepMs(pageWriteMs);
            if (reply != 0x0D)
                return LinkError();
        }
        SetStates(b, o, n, Programmed);
        if (CancelRequested())
            return kOpCancelled;
        SleepMs(owner_.boardDelays[2]);
        ReportProgress(j);
    }
    return kOpDone;
}

int ZI1ProgramData::RunBlocks(int count)
{
    MemoryBuffer& b = *buffer;
    BeginStage(count / 64, Translate(1071), Translate(isFlash ? 1072 : 1073));
    std::array<uint8_t, 2 + 64> packet{};
    const int blocks = (count + 63) / 64;
    for (int i = 0; i < blocks; ++i) {
        const int o = 64 * i;
        const int n = std::min(64, count - o);
        packet[0] = writeCommand;
        packet[1] = static_cast<uint8_t>(n);
        std::memcpy(packet.data() + 2, b.Data.data() + o, n);
        if (!SendBlock(packet.data(), n + 2))
            return LinkError();
        const int reply = ReceiveByte();
        if (reply == 0x1B)
            return kOpBoardCondition;  // the command reports the polling failure
        if (reply != 0x0D)
            return LinkError();
        SetStates(b, o, n, Programmed);
        if (CancelRequested())
            return kOpCancelled;
        SleepMs(owner_.boardDelays[2]);
        ReportProgress(i);
    }
    return kOpDone;
}

int ZI1ProgramData::RunAt89sBytes(int count)
{
    MemoryBuffer& b = *buffer;
    BeginStage(count, Translate(1071), Translate(isFlash ? 1072 : 1073));
    const int pause = BytePauseMs(isFlash, 12);
    const uint8_t instruction = isFlash ? 0x40 : 0xC0;
    for (int a = 0; a < count; ++a) {
        if (!Send({'4', instruction, static_cast<uint8_t>((a >> 8) & 0xFF),
                   static_cast<uint8_t>(a & 0xFF), b.Data[a]}))
            return LinkError();
        if (ReceiveByte() < 0)
            return LinkError();
        SetStates(b, a, 1, Programmed);
        if (CancelRequested())
            return kOpCancelled;
        SleepMs(pause);
        ReportProgress(a);
    }
    return kOpDone;
}

}  // namespace zelko
