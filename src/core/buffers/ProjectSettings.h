// The settings of one programming job, and one set of lock and fuse states.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zelko {

class MemoryBuffer;

inline constexpr const char* kUnspecified = "[Unspecified]";

// One complete set of lock, fuse and boot lock states. 1 = programmed (bit
// value 0 on the chip).
struct LockFuseSettings {
    bool readable = false;  // the device's bits can be read back; not compared, not stored
    int32_t lockMode = 0;   // 0..3
    std::array<uint8_t, 32> fuses{};
    std::array<uint8_t, 16> bootLocks{};

    // Equal when lock mode, all 32 fuses and all 16 boot locks are equal.
    friend bool operator==(const LockFuseSettings& a, const LockFuseSettings& b)
    {
        return a.lockMode == b.lockMode && a.fuses == b.fuses && a.bootLocks == b.bootLocks;
    }
};

// Table index of "ATmega8/8A", the device of a fresh project.
inline constexpr int kDefaultDeviceIndex = 24;

struct ProjectSettings {
    MemoryBuffer* FlashBuffer = nullptr;
    MemoryBuffer* EepromBuffer = nullptr;
    std::string ProjectFile = kUnspecified;
    std::string Log;
    bool OverwriteLog = false;
    bool Modified = false;
    bool FlashInvert = false;
    bool Polling = false;
    int32_t ResetStrobeLength = 20;
    bool CheckSign = false;
    bool NoSynchronization = false;
    bool AutoErase = false;
    bool AutoEmptyCheck = false;
    bool AutoFlashReload = false;
    bool AutoFlashProgram = false;
    bool AutoFlashVerify = false;
    bool AutoEepromReload = false;
    bool AutoEepromProgram = false;
    bool AutoEepromVerify = false;
    bool AutoIncrementFlash = false;
    bool AutoIncrement = false;
    bool ProgramFuse = false;
    bool ProgramFuseBeforeAll = false;
    LockFuseSettings LockFuse;
    int32_t AutoIncAddressFlash = 0;
    int32_t AutoIncAddress = 0;
    int32_t DeviceIndex = kDefaultDeviceIndex;
    int32_t SPIPeriod = 4;
    bool DelayByte = false;
    bool DelayPage = false;
    int32_t DelayByteValue = 15;
    int32_t DelayPageValue = 15;
    bool DelayByte2 = false;
    bool DelayPage2 = false;
    int32_t DelayByteValue2 = 10;
    int32_t DelayPageValue2 = 10;
};

}  // namespace zelko
