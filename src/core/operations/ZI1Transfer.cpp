#include <mutex>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/devices/DeviceTable.h"
#include "core/operations/ZI1Operations.h"

namespace zelko {

std::mutex& BufferContentMutex()
{
    static std::mutex m;
    return m;
}

const DeviceRecord& ZI1Transfer::Device() const
{
    return DeviceAt(settings_ ? settings_->DeviceIndex : owner_.CurrentDeviceIndex());
}

bool ZI1Transfer::Send(std::initializer_list<uint8_t> bytes)
{
    return owner_.serialPort.SendBytes(bytes.size(), bytes.begin());
}

bool ZI1Transfer::SendBlock(const uint8_t* data, size_t n)
{
    return owner_.serialPort.SendBytes(n, data);
}

int ZI1Transfer::ReceiveByte()
{
    const uint8_t* r = owner_.serialPort.Receive(1);
    return r ? r[0] : -1;
}

int ZI1Transfer::LinkError()
{
    owner_.ReportMessage(Translate(1027));
    return kOpLinkError;
}

bool ZI1Transfer::SendDelayCode(uint8_t code)
{
    return Send({'W', code}) && ReceiveByte() == 0x0D;
}

bool ZI1Transfer::SendExtendedAddress(int offset)
{
    if (!Send({'4', 0x4D, 0x00, static_cast<uint8_t>((offset >> 17) & 0xFF), 0x00}))
        return false;
    ReceiveByte();  // the target's echo carries nothing we need
    return true;
}

uint8_t ZI1Transfer::ReadDelayCode(bool isFlash) const
{
    const DeviceRecord& d = Device();
    const ProjectSettings& p = *settings_;
    if (isFlash)
        return p.DelayByte ? DelayCode(p.DelayByteValue)
                           : static_cast<uint8_t>(d.flashReadDelayCode);
    return p.DelayByte2 ? DelayCode(p.DelayByteValue2)
                        : static_cast<uint8_t>(d.eepromReadDelayCode);
}

int ZI1Transfer::BytePauseMs(bool isFlash, int fallbackMs) const
{
    const ProjectSettings& p = *settings_;
    if (isFlash)
        return p.DelayByte ? p.DelayByteValue : fallbackMs;
    return p.DelayByte2 ? p.DelayByteValue2 : fallbackMs;
}

}  // namespace zelko
