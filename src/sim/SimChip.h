// The simulated target chip: its memories, lock and fuse bits, and the
// four-byte serial-programming instructions of the AVR and AT89S families, as
// their datasheets give them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/devices/DeviceTable.h"
#include "core/devices/LockFuseTable.h"
#include "sim/SimConfig.h"

namespace zelko::sim {

class SimChip {
public:
    explicit SimChip(const SimConfig& config);

    const DeviceRecord& Device() const { return *device_; }
    int DeviceIndex() const { return deviceIndex_; }
    bool IsAvr() const { return device_->interfaceKind == kInterfaceAvr; }

    // Pins driven by the board. An AVR enters programming mode only after a
    // positive pulse on its reset line (low, high, low); an AT89S after the
    // board has raised its reset ('+').
    void BeginResetStrobe();
    void SetResetLow(bool low);
    void PrepareAt89s();
    void EndProgramming();
    bool ProgrammingEnabled() const { return programming_; }

    // One instruction: four bytes in, the four bytes the chip shifts out.
    std::array<uint8_t, 4> Transfer(const std::array<uint8_t, 4>& in);

    void ChipErase();

    // State, for tests and dumps.
    std::vector<uint8_t>& Flash() { return flash_; }
    std::vector<uint8_t>& Eeprom() { return eeprom_; }
    const std::vector<uint8_t>& Flash() const { return flash_; }
    const std::vector<uint8_t>& Eeprom() const { return eeprom_; }
    // The lock and fuse bytes as the chip's read instructions return them.
    uint8_t LockByte() const;
    uint8_t FuseByteValue(FuseByte which) const { return fuses_[static_cast<int>(which)]; }
    const std::array<uint8_t, 3>& Signature() const { return signature_; }
    bool Locked() const { return locked_; }
    void SetLocked(bool locked) { locked_ = locked; }
    int ChipErases() const { return erases_; }
    int PageWrites() const { return pageWrites_; }
    uint8_t ExtendedAddress() const { return extendedAddress_; }

private:
    uint8_t Execute(const std::array<uint8_t, 4>& in);
    bool WriteLockFuse(const std::array<uint8_t, 4>& in);
    bool ReadLockFuse(const std::array<uint8_t, 4>& in, uint8_t& out) const;
    void WriteFuseByte(FuseByte which, const std::array<uint8_t, 4>& in);
    bool EepromSaved() const;

    const DeviceRecord* device_;
    int deviceIndex_;
    const LockFuseTable* table_ = nullptr;
    bool staysLocked_;
    std::vector<uint8_t> flash_;
    std::vector<uint8_t> eeprom_;
    std::vector<uint8_t> pageBuffer_;
    std::array<uint8_t, 3> signature_;
    std::vector<uint8_t> calibration_;
    std::array<uint8_t, 3> fuses_{0xFF, 0xFF, 0xFF};
    uint8_t avrLock_ = 0xFF;      // AVR lock byte as read back
    uint8_t at89Levels_ = 0;      // AT89S51/52/2051/4051: bit n-1 = lock level n programmed
    uint8_t at8253Lock_ = 0x07;   // AT89S8253: its three lock bits, 0 = programmed
    uint8_t extendedAddress_ = 0;
    bool locked_;
    bool resetLow_ = false;
    int strobeStep_ = 0;
    bool at89Prepared_ = false;
    bool programming_ = false;
    int erases_ = 0;
    int pageWrites_ = 0;
};

}  // namespace zelko::sim
