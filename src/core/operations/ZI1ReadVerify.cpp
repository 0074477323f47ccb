// Reading, verifying and blank-checking follow the board's address pointer from
// 0 in blocks of 64 bytes (AT89S chips byte by byte, addressed).
#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/devices/DeviceTable.h"
#include "core/link/Clock.h"
#include "core/operations/ZI1Operations.h"

namespace zelko {

int ZI1ReadData::Run()
{
    MemoryBuffer& b = *buffer;
    const int length = static_cast<int>(std::min({static_cast<size_t>(std::max(b.Length, 0)),
                                                  b.Data.size(), b.States.size()}));
    BeginStage(length / 64, Translate(1145), Translate(isFlash ? 1085 : 1096));
    const DeviceRecord& d = Device();

    if (d.interfaceKind == kInterfaceAt89s) {
        const int pause = BytePauseMs(isFlash, 5);
        const uint8_t instruction = isFlash ? 0x20 : 0xA0;
        for (int a = 0; a < length; ++a) {
            if (!Send({'5', instruction, static_cast<uint8_t>((a >> 8) & 0xFF),
                       static_cast<uint8_t>(a & 0xFF)}))
                return LinkError();
            const int v = ReceiveByte();
            if (v < 0)
                return LinkError();
            {
                std::lock_guard lock(BufferContentMutex());
                b.Data[a] = static_cast<uint8_t>(v);
                b.States[a] = ReadBack;
            }
            if (CancelRequested())
                return kOpCancelled;
            ReportProgress(a / 64);
            SleepMs(pause);
        }
        return kOpDone;
    }

    return ReadBlocks(isFlash, readCommand, length, [&b](const uint8_t* got, int o, int n) {
        std::lock_guard lock(BufferContentMutex());
        std::memcpy(b.Data.data() + o, got, n);
        std::fill_n(b.States.begin() + o, n, static_cast<uint8_t>(ReadBack));
    });
}

int ZI1Transfer::ReadBlocks(bool isFlash, uint8_t readCommand, int count,
                            const std::function<void(const uint8_t*, int, int)>& take)
{
    if (!SendDelayCode(ReadDelayCode(isFlash)))
        return LinkError();
    const int blocks = (count + 63) / 64;
    for (int i = 0; i < blocks; ++i) {
        const int o = 64 * i;
        const int n = std::min(64, count - o);
        if (!SendExtendedAddress(o))
            return LinkError();
        if (!Send({readCommand, static_cast<uint8_t>(n)}))
            return LinkError();
        const uint8_t* got = owner_.serialPort.Receive(n);
        if (!got)
            return LinkError();
        take(got, o, n);
        if (CancelRequested())
            return kOpCancelled;
        SleepMs(owner_.boardDelays[1]);
        ReportProgress(i);
    }
    return kOpDone;
}

void ZI1VerifyData::Compare(const uint8_t* got, int offset, int n)
{
    MemoryBuffer& b = *buffer;
    std::lock_guard lock(BufferContentMutex());
    for (int j = 0; j < n; ++j) {
        if (got[j] == b.Data[offset + j]) {
            b.States[offset + j] = Verified;
        } else {
            matches = false;
            if (firstMismatch == -1)
                firstMismatch = offset + j;
            b.States[offset + j] = Failed;
        }
    }
}

int ZI1VerifyData::Run()
{
    MemoryBuffer& b = *buffer;
    const int length = static_cast<int>(std::min({static_cast<size_t>(std::max(b.Length, 0)),
                                                  b.Data.size(), b.States.size()}));
    {
        std::lock_guard lock(BufferContentMutex());
        std::fill(b.States.begin(), b.States.end(), static_cast<uint8_t>(Failed));
    }
    const int count = std::min(limit, length);
    BeginStage(count / 64, Translate(1148), Translate(isFlash ? 1090 : 1149));
    const DeviceRecord& d = Device();

    if (d.interfaceKind == kInterfaceAt89s) {
        matches = true;
        const int pause = BytePauseMs(isFlash, 5);
        const uint8_t instruction = isFlash ? 0x20 : 0xA0;
        for (int a = 0; a < count; ++a) {
            if (!Send({'5', instruction, static_cast<uint8_t>((a >> 8) & 0xFF),
                       static_cast<uint8_t>(a & 0xFF)}))
                return LinkError();
            const int v = ReceiveByte();
            if (v < 0)
                return LinkError();
            const uint8_t got = static_cast<uint8_t>(v);
            Compare(&got, a, 1);
            if (CancelRequested())
                return kOpCancelled;
            SleepMs(pause);
            ReportProgress(a / 64);
        }
        return kOpDone;
    }

    // Bytes beyond the chip's memory are never compared; they stay Failed.
    return ReadBlocks(isFlash, readCommand, count,
                      [this](const uint8_t* got, int o, int n) { Compare(got, o, n); });
}

int ZI1BlankCheck::Run()
{
    const DeviceRecord& d = Device();
    const int size = d.flashSize;
    BeginStage(size / 64, Translate(1146), Translate(1147));

    if (d.interfaceKind == kInterfaceAt89s) {
        for (int a = 0; a < size; ++a) {
            if (!Send({'5', 0x20, static_cast<uint8_t>((a >> 8) & 0xFF),
                       static_cast<uint8_t>(a & 0xFF)}))
                return LinkError();
            const int v = ReceiveByte();
            if (v < 0)
                return LinkError();
            if (v != 0xFF)
                return kOpBoardCondition;
            if (CancelRequested())
                return kOpCancelled;
            ReportProgress(a / 64);
        }
        return kOpDone;
    }

    if (!SendDelayCode(ReadDelayCode(true)))
        return LinkError();
    const int blocks = size / 64;
    for (int i = 0; i < blocks; ++i) {
        const int o = 64 * i;
        const int n = std::min(64, size - o);
        // Without the extended address a chip above 128 KiB would have its
        // lower half read twice and its upper half never.
        if (!SendExtendedAddress(o))
            return LinkError();
        if (!Send({kCmdReadFlash, static_cast<uint8_t>(n)}))
            return LinkError();
        const uint8_t* got = owner_.serialPort.Receive(n);
        if (!got)
            return LinkError();
        if (!std::all_of(got, got + n, [](uint8_t v) { return v == 0xFF; }))
            return kOpBoardCondition;
        if (CancelRequested())
            return kOpCancelled;
        SleepMs(owner_.boardDelays[1]);
        ReportProgress(i);
    }
    return kOpDone;
}

int ZI1SelfProgram::FailAndClose(int messageId)
{
    owner_.CloseWithEscape();
    owner_.ReportMessage(Translate(messageId));
    owner_.ShowStatus(Translate(messageId));
    return kOpLinkError;
}

int ZI1SelfProgram::Run()
{
    BeginStage(3072, Translate(1170), Translate(1171));
    HideCancel();  // a half-written firmware is worse than a slow one

    SleepMs(100);
    if (!Send({'^'}))
        return LinkError();
    SleepMs(100);
    const int ready = ReceiveByte();
    if (ready < 0)
        return LinkError();
    if (ready != '+') {
        owner_.ReportMessage(Translate(1196));
        return kOpLinkError;
    }
    if (!image || image->size() != kImageSize)
        return LinkError();

    for (int g = 0; g < 3072; ++g) {
        for (int k = 0; k < 4; ++k)
            if (!Send({(*image)[4 * g + k]}))
                return LinkError();
        if (g % 32 == 31)
            SleepMs(15);  // the bootloader writes 128 bytes
        if (ReceiveByte() < 0)
            return LinkError();
        ReportProgress(g);
    }

    // Whatever the bootloader still says is of no use, but a port that keeps
    // talking (a wrong device, a babbling adapter) must not hold us here.
    SleepMs(200);
    constexpr int kDrainLimitBytes = 1024;
    constexpr auto kDrainLimitTime = std::chrono::milliseconds(3000);
    const auto drainStart = std::chrono::steady_clock::now();
    for (int drained = 0; ReceiveByte() >= 0; ++drained) {
        if (drained >= kDrainLimitBytes ||
            std::chrono::steady_clock::now() - drainStart > kDrainLimitTime)
            return FailAndClose(1027);
    }

    SleepMs(150);
    if (!Send({'%'}))
        return FailAndClose(1027);
    SleepMs(50);
    const int r = ReceiveByte();
    if (r == '+' || r == '*')
        return kOpDone;
    return FailAndClose(r == '-' ? 1198 : 1027);
}

}  // namespace zelko
