// Lock, fuse and boot lock bits: the pure rules (instruction building, decoding
// of the bytes read back, the safety warning) and the detailed outcome of a
// programming run, which the auto-program sequence needs to judge its verdict.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/buffers/ProjectSettings.h"
#include "core/devices/LockFuseTable.h"

namespace zelko {

class Controller;
struct DeviceRecord;

// The lock write instruction of an AVR: LB1 and LB2 from the lock mode, the
// boot lock bits into byte 3.
std::array<uint8_t, 4> AvrLockWriteInstruction(const LockFuseTable& t, const LockFuseSettings& s);

// The lock write instruction of the AT89S8253 (three lock bits, one per mode).
std::array<uint8_t, 4> At89s8253LockWriteInstruction(const LockFuseTable& t, int lockMode);

// Lock mode of an AVR lock byte. `unrecognized` is set for LB1 unprogrammed
// with LB2 programmed, which decodes as mode 0.
int DecodeAvrLockMode(const LockFuseTable& t, uint8_t lockByte, bool& unrecognized);

// Lock mode of an AT89S lock byte; the AT89S8253 keeps its bits in a different
// layout from the other AT89S chips.
int DecodeAt89sLockMode(bool isAt89s8253, uint8_t lockByte);

// The warning shown before programming settings that can lock out a serial
// programmer: the fuses set against their recommendation and the
// external-clock-only CKSEL combination, ending with "Continue?". Empty when
// there is nothing to warn about.
std::string LockFuseSafetyWarning(const LockFuseTable& t, const LockFuseSettings& s);

// What a programming run did. `result` is ProgramLockFuse's return value (false
// only when no session could be opened); `errorReported` tells whether any
// error was reported on the way (no board, a failed send, a write the chip did
// not acknowledge).
struct LockFuseProgramOutcome {
    bool result = false;
    bool errorReported = false;
};

LockFuseProgramOutcome ProgramLockFuseDetailed(Controller& c, const LockFuseSettings& settings,
                                               bool quiet);

// The verify report for a chip read back as `actual`: empty when it equals
// `expected`, otherwise the failure text with one line per difference.
std::string LockFuseDifferenceText(const DeviceRecord& device, const LockFuseSettings& expected,
                                   const LockFuseSettings& actual);

}  // namespace zelko
