// How each family of chips writes, reads and names its lock, fuse and boot lock
// bits: 39 constant tables, numbered 0..38.
#pragma once

#include <array>
#include <cstdint>

#include "core/buffers/ProjectSettings.h"

namespace zelko {

// Where one bit goes inside a four-byte serial-programming instruction.
struct BitPlace {
    int32_t byteIndex = -1;  // 0..3; -1 = not part of this instruction
    int32_t bit = -1;        // 0..7; -1 = not part of this instruction
    bool used() const { return byteIndex != -1 && bit != -1; }
};

struct FuseByteDescriptor {
    bool present = false;
    std::array<uint8_t, 4> writeInstruction{};
    std::array<BitPlace, 32> writeBits{};
    std::array<uint8_t, 4> readInstruction{};  // the first 3 are sent
    std::array<int32_t, 32> readBits{};        // -1 = not in this byte
};

struct LockFuseTable {
    std::array<uint8_t, 4> lockWriteInstruction{};
    std::array<BitPlace, 32> lockWriteBits{};  // only the first three are used
    int32_t fuseCount = 0;
    std::array<uint8_t, 4> lowWriteInstruction{};
    std::array<BitPlace, 32> lowWriteBits{};
    bool lockReadable = false;
    std::array<uint8_t, 3> lockReadInstruction{};
    std::array<int32_t, 3> lockReadBits{};
    bool lowReadable = false;
    std::array<uint8_t, 3> lowReadInstruction{};
    std::array<int32_t, 32> lowReadBits{};
    std::array<const char*, 32> fuseNames{};
    std::array<int32_t, 32> recommended{};  // +1 programmed, -1 unprogrammed, 0 none
    FuseByteDescriptor high;
    int32_t bootLockCount = 0;
    std::array<int32_t, 4> bootLockBits{};
    std::array<const char*, 4> bootLockNames{};
    FuseByteDescriptor extended;
};

inline constexpr int kLockFuseTableCount = 39;

// Table `index` (0..38); table 0 for any other index, so check for -1 first.
const LockFuseTable& LockFuseTableAt(int index);

enum class FuseByte { Low, High, Extended };

// Fills the write instruction of one fuse byte from the fuse states (any
// non-zero state counts as programmed).
std::array<uint8_t, 4> FillFuseWriteInstruction(const LockFuseTable& t, FuseByte which,
                                                 const LockFuseSettings& s);

// Decodes one fuse byte read back into the fuse states (low first, then high,
// then extended, as the chip is read).
void DecodeFuseByte(const LockFuseTable& t, FuseByte which, uint8_t value, LockFuseSettings& s);

// Boot lock states from the lock byte read back.
void DecodeBootLocks(const LockFuseTable& t, uint8_t lockByte, LockFuseSettings& s);

// The lock mode's display name for a device of this interface kind, in the
// current language; "" for a mode outside 0..3.
const char* LockModeName(int interfaceKind, int mode);

// Sets every fuse the table recommends to its recommended state.
void ApplyRecommendedPresets(const LockFuseTable& t, LockFuseSettings& s);

}  // namespace zelko
