#include "sim/SimChip.h"

#include <algorithm>
#include <cstring>

namespace zelko::sim {
namespace {

// What a locked chip answers to every signature read.
constexpr std::array<uint8_t, 3> kLockedSignature{0x00, 0x01, 0x02};
// What it answers to memory reads.
constexpr uint8_t kLockedData = 0x00;

uint8_t Bit(const std::array<uint8_t, 4>& in, const BitPlace& p)
{
    return static_cast<uint8_t>((in[static_cast<size_t>(p.byteIndex)] >> p.bit) & 1);
}

bool ValidPos(int32_t pos) { return pos >= 0 && pos <= 7; }

// Bits of instruction byte 1 that carry data rather than select the instruction.
uint8_t DataMaskByte1(const std::array<BitPlace, 32>& bits, int count)
{
    uint8_t mask = 0;
    for (int i = 0; i < count && i < 32; ++i)
        if (bits[static_cast<size_t>(i)].used() && bits[static_cast<size_t>(i)].byteIndex == 1)
            mask = static_cast<uint8_t>(mask | (1u << bits[static_cast<size_t>(i)].bit));
    return mask;
}

bool MatchesWrite(const std::array<uint8_t, 4>& in, const std::array<uint8_t, 4>& templ,
                  uint8_t mask1)
{
    return in[0] == templ[0] && (in[1] & ~mask1 & 0xFF) == (templ[1] & ~mask1 & 0xFF);
}

template <size_t N>
bool MatchesRead(const std::array<uint8_t, 4>& in, const std::array<uint8_t, N>& instr)
{
    return in[0] == instr[0] && in[1] == instr[1];
}

}  // namespace

SimChip::SimChip(const SimConfig& config)
    : deviceIndex_(FindByName(config.device)),
      staysLocked_(config.staysLocked),
      locked_(config.locked)
{
    if (deviceIndex_ < 0)
        deviceIndex_ = kDefaultDeviceIndex;
    device_ = &DeviceAt(deviceIndex_);
    if (device_->lockFuseTableIndex >= 0 && device_->lockFuseTableIndex < kLockFuseTableCount)
        table_ = &LockFuseTableAt(device_->lockFuseTableIndex);
    flash_.assign(static_cast<size_t>(device_->flashSize), 0xFF);
    eeprom_.assign(static_cast<size_t>(device_->eepromSize), 0xFF);
    pageBuffer_.assign(static_cast<size_t>(device_->pageWords) * 2, 0xFF);
    signature_ = config.signature.value_or(
        std::array<uint8_t, 3>{device_->signature[0], device_->signature[1],
                               device_->signature[2]});
    if (!config.calibration.empty()) {
        calibration_ = config.calibration;
    } else {
        static constexpr uint8_t kDefaults[4] = {0xA7, 0x9B, 0x94, 0x8C};
        calibration_.assign(kDefaults, kDefaults + std::clamp(device_->calibrationCount, 0, 4));
    }

    // Fresh from the factory: the fuses the table recommends are programmed.
    if (table_) {
        const FuseByteDescriptor* bytes[3] = {nullptr, &table_->high, &table_->extended};
        for (int i = 0; i < table_->fuseCount && i < 32; ++i) {
            if (table_->recommended[static_cast<size_t>(i)] != 1)
                continue;
            for (int b = 0; b < 3; ++b) {
                const int32_t pos = b == 0 ? table_->lowReadBits[static_cast<size_t>(i)]
                                           : bytes[b]->readBits[static_cast<size_t>(i)];
                if ((b == 0 || bytes[b]->present) && ValidPos(pos)) {
                    fuses_[static_cast<size_t>(b)] &= static_cast<uint8_t>(~(1u << pos));
                    break;
                }
            }
        }
    }
    if (config.lowFuse)
        fuses_[0] = *config.lowFuse;
    if (config.highFuse)
        fuses_[1] = *config.highFuse;
    if (config.extendedFuse)
        fuses_[2] = *config.extendedFuse;
    if (config.lock) {
        avrLock_ = *config.lock;
        at89Levels_ = static_cast<uint8_t>((*config.lock >> 2) & 0x07);
        at8253Lock_ = static_cast<uint8_t>(*config.lock & 0x07);
    }
}

void SimChip::BeginResetStrobe()
{
    strobeStep_ = 0;
    programming_ = false;
}

void SimChip::SetResetLow(bool low)
{
    if (low) {
        // low after low-high: the pulse is complete
        strobeStep_ = (!resetLow_ && strobeStep_ == 2) ? 3 : 1;
        if (!IsAvr()) {
            at89Prepared_ = false;
            programming_ = false;
        }
    } else {
        strobeStep_ = (resetLow_ && strobeStep_ == 1) ? 2 : 0;
        if (IsAvr())
            programming_ = false;
    }
    resetLow_ = low;
}

void SimChip::PrepareAt89s()
{
    if (!IsAvr()) {
        at89Prepared_ = true;
        resetLow_ = false;
    }
}

void SimChip::EndProgramming()
{
    programming_ = false;
    at89Prepared_ = false;
    strobeStep_ = 0;
    resetLow_ = false;
}

std::array<uint8_t, 4> SimChip::Transfer(const std::array<uint8_t, 4>& in)
{
    std::array<uint8_t, 4> out{0xFF, 0xFF, 0xFF, 0xFF};
    if (in[0] == 0xAC && in[1] == 0x53) {
        if (IsAvr() ? (resetLow_ && strobeStep_ == 3) : at89Prepared_)
            programming_ = true;
        if (programming_) {
            if (IsAvr()) {
                out[1] = in[0];
                out[2] = 0x53;
                out[3] = in[2];
            } else {
                out[3] = 0x69;
            }
        }
        return out;
    }
    if (!programming_)
        return out;  // not listening: the data line stays high
    const uint8_t r = Execute(in);
    if (IsAvr()) {
        out[1] = in[0];
        out[2] = in[1];
    }
    out[3] = r;
    return out;
}

uint8_t SimChip::LockByte() const
{
    switch (device_->interfaceKind) {
    case kInterfaceAt89s: return static_cast<uint8_t>(at89Levels_ << 2);
    case kInterfaceAt89s8253: return static_cast<uint8_t>(0xF8 | at8253Lock_);
    default: return avrLock_;
    }
}

bool SimChip::EepromSaved() const
{
    if (!table_ || !IsAvr())
        return false;
    for (int i = 0; i < table_->fuseCount && i < 32; ++i) {
        const char* name = table_->fuseNames[static_cast<size_t>(i)];
        if (!name || std::strcmp(name, "EESAVE") != 0)
            continue;
        const FuseByteDescriptor* bytes[3] = {nullptr, &table_->high, &table_->extended};
        for (int b = 0; b < 3; ++b) {
            const int32_t pos = b == 0 ? table_->lowReadBits[static_cast<size_t>(i)]
                                       : bytes[b]->readBits[static_cast<size_t>(i)];
            if ((b == 0 || bytes[b]->present) && ValidPos(pos))
                return ((fuses_[static_cast<size_t>(b)] >> pos) & 1) == 0;
        }
    }
    return false;
}

void SimChip::ChipErase()
{
    ++erases_;
    if (locked_ && staysLocked_)
        return;
    locked_ = false;
    std::fill(flash_.begin(), flash_.end(), 0xFF);
    if (!EepromSaved())
        std::fill(eeprom_.begin(), eeprom_.end(), 0xFF);
    std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);
    avrLock_ = 0xFF;
    at89Levels_ = 0;
    at8253Lock_ = 0x07;
}

void SimChip::WriteFuseByte(FuseByte which, const std::array<uint8_t, 4>& in)
{
    const int b = static_cast<int>(which);
    const auto& writeBits = which == FuseByte::Low    ? table_->lowWriteBits
                            : which == FuseByte::High ? table_->high.writeBits
                                                      : table_->extended.writeBits;
    const auto& readBits = which == FuseByte::Low    ? table_->lowReadBits
                           : which == FuseByte::High ? table_->high.readBits
                                                     : table_->extended.readBits;
    // Fuses are rewritten as a whole byte; bits no fuse names stay 1.
    uint8_t value = 0xFF;
    for (int i = 0; i < table_->fuseCount && i < 32; ++i) {
        const BitPlace& p = writeBits[static_cast<size_t>(i)];
        const int32_t pos = readBits[static_cast<size_t>(i)];
        if (p.used() && ValidPos(pos) && Bit(in, p) == 0)
            value = static_cast<uint8_t>(value & ~(1u << pos));
    }
    fuses_[static_cast<size_t>(b)] = value;
}

bool SimChip::WriteLockFuse(const std::array<uint8_t, 4>& in)
{
    if (!table_)
        return false;
    const LockFuseTable& t = *table_;
    if (device_->interfaceKind == kInterfaceAt89s) {
        if (in[0] == 0xAC && (in[1] & 0xFC) == 0xE0) {
            const int level = in[1] & 0x03;
            if (level > 0)
                at89Levels_ = static_cast<uint8_t>(at89Levels_ | (1u << (level - 1)));
            return true;
        }
        return false;
    }
    if (device_->interfaceKind == kInterfaceAt89s8253 && in[0] == 0xAC &&
        (in[1] & 0xF8) == 0xE0) {
        at8253Lock_ &= static_cast<uint8_t>(in[1] & 0x07);  // lock bits only ever program
        return true;
    }
    if (IsAvr() && MatchesWrite(in, t.lockWriteInstruction, DataMaskByte1(t.lockWriteBits, 3))) {
        for (size_t e = 0; e < 3; ++e) {
            const BitPlace& p = t.lockWriteBits[e];
            const int32_t pos = e < t.lockReadBits.size() ? t.lockReadBits[e] : -1;
            if (p.used() && ValidPos(pos) && Bit(in, p) == 0)
                avrLock_ = static_cast<uint8_t>(avrLock_ & ~(1u << pos));
        }
        for (int i = 0; i < t.bootLockCount && i < 4; ++i) {
            const int32_t pos = t.bootLockBits[static_cast<size_t>(i)];
            if (ValidPos(pos) && ((in[3] >> pos) & 1) == 0)
                avrLock_ = static_cast<uint8_t>(avrLock_ & ~(1u << pos));
        }
        return true;
    }
    if (t.fuseCount > 0 &&
        MatchesWrite(in, t.lowWriteInstruction, DataMaskByte1(t.lowWriteBits, t.fuseCount))) {
        WriteFuseByte(FuseByte::Low, in);
        return true;
    }
    if (t.high.present && MatchesWrite(in, t.high.writeInstruction,
                                       DataMaskByte1(t.high.writeBits, t.fuseCount))) {
        WriteFuseByte(FuseByte::High, in);
        return true;
    }
    if (t.extended.present && MatchesWrite(in, t.extended.writeInstruction,
                                           DataMaskByte1(t.extended.writeBits, t.fuseCount))) {
        WriteFuseByte(FuseByte::Extended, in);
        return true;
    }
    return false;
}

bool SimChip::ReadLockFuse(const std::array<uint8_t, 4>& in, uint8_t& out) const
{
    if (!table_)
        return false;
    const LockFuseTable& t = *table_;
    if (!IsAvr() && in[0] == 0x24) {
        out = LockByte();
        return true;
    }
    if (IsAvr() && t.lockReadable && MatchesRead(in, t.lockReadInstruction)) {
        out = avrLock_;
        return true;
    }
    if (t.fuseCount > 0 && t.lowReadable && MatchesRead(in, t.lowReadInstruction)) {
        out = fuses_[0];
        return true;
    }
    if (t.high.present && MatchesRead(in, t.high.readInstruction)) {
        out = fuses_[1];
        return true;
    }
    if (t.extended.present && MatchesRead(in, t.extended.readInstruction)) {
        out = fuses_[2];
        return true;
    }
    return false;
}

uint8_t SimChip::Execute(const std::array<uint8_t, 4>& in)
{
    const bool avr = IsAvr();
    const size_t flashSize = flash_.size();
    const size_t eepromSize = eeprom_.size();

    if (in[0] == 0xAC && (in[1] & 0xE0) == 0x80) {
        ChipErase();
        return 0xFF;
    }
    if (in[0] == 0xAC) {
        if (!WriteLockFuse(in))
            return 0xFF;
        return in[3];
    }
    uint8_t value = 0xFF;
    if (ReadLockFuse(in, value))
        return value;

    const uint32_t address16 = (static_cast<uint32_t>(in[1]) << 8) | in[2];
    switch (in[0]) {
    case 0x20:
    case 0x28:
        if (!avr && in[0] == 0x28) {
            // AT89S signature: 28 i 00, or 28 00 30+i on the AT89S8253
            const int i = device_->interfaceKind == kInterfaceAt89s8253 ? in[2] - 0x30 : in[1];
            const auto& sig = locked_ ? kLockedSignature : signature_;
            return i >= 0 && i < 3 ? sig[static_cast<size_t>(i)] : 0xFF;
        }
        if (flashSize == 0)
            return 0xFF;
        if (locked_)
            return kLockedData;
        if (avr) {
            const uint32_t word = (static_cast<uint32_t>(extendedAddress_) << 16) | address16;
            return flash_[(word * 2 + (in[0] == 0x28 ? 1 : 0)) % flashSize];
        }
        return flash_[address16 % flashSize];
    case 0x40:
    case 0x48:
        if (flashSize == 0 || locked_)
            return 0xFF;
        if (avr && device_->pageWords > 0) {
            // the page buffer is addressed by the word's position within the page
            const uint32_t word = address16 & static_cast<uint32_t>(device_->pageWords - 1);
            pageBuffer_[word * 2 + (in[0] == 0x48 ? 1 : 0)] = in[3];
        } else if (avr) {
            const uint32_t word = (static_cast<uint32_t>(extendedAddress_) << 16) | address16;
            flash_[(word * 2 + (in[0] == 0x48 ? 1 : 0)) % flashSize] &= in[3];
        } else if (in[0] == 0x40) {
            flash_[address16 % flashSize] &= in[3];
        }
        return in[3];
    case 0x4C:
        if (avr && device_->pageWords > 0 && flashSize > 0) {
            ++pageWrites_;
            if (!locked_) {
                const uint32_t word = ((static_cast<uint32_t>(extendedAddress_) << 16) |
                                       address16) &
                                      ~static_cast<uint32_t>(device_->pageWords - 1);
                const size_t base = (word * 2) % flashSize;
                for (size_t k = 0; k < pageBuffer_.size() && base + k < flashSize; ++k)
                    flash_[base + k] &= pageBuffer_[k];
            }
            std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);
        }
        return 0xFF;
    case 0x4D:
        if (avr)
            extendedAddress_ = in[2];
        return 0xFF;
    case 0xA0:
        if (eepromSize == 0)
            return 0xFF;
        return locked_ ? kLockedData : eeprom_[address16 % eepromSize];
    case 0xC0:
        // the EEPROM erases each byte before it writes it
        if (eepromSize > 0 && !locked_)
            eeprom_[address16 % eepromSize] = in[3];
        return in[3];
    case 0x30:
        if (!avr)
            return 0xFF;
        return in[2] < 3 ? (locked_ ? kLockedSignature : signature_)[in[2]] : 0xFF;
    case 0x38:
        if (!avr)
            return 0xFF;
        return in[2] < calibration_.size() ? calibration_[in[2]] : 0xFF;
    case 0xF0:
        return 0xFE;  // never busy
    default:
        return 0xFF;
    }
}

}  // namespace zelko::sim
