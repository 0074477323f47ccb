// The board transfers that run behind the progress view: program, read and
// verify a memory, blank-check the Flash, and upload the board's firmware.
// Each runs inside an open link session (the upload inside a port-only
// connection) and leaves closing it to its command.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/operations/CProgressDlg.h"

namespace zelko {

class MemoryBuffer;
struct DeviceRecord;

// Board command bytes of the memory transfers.
inline constexpr uint8_t kCmdWriteFlash = 0x7B;   // '{'
inline constexpr uint8_t kCmdWriteEeprom = 0x3E;  // '>'
inline constexpr uint8_t kCmdReadFlash = 0x7D;    // '}'
inline constexpr uint8_t kCmdReadEeprom = 0x3C;   // '<'

// The board's byte delay code for a pause of ms milliseconds.
constexpr uint8_t DelayCode(int ms) { return static_cast<uint8_t>((255 - 7 * ms) & 0xFF); }

// Helpers shared by the transfers: the selected device, the serial link and
// the "Connection error" exit.
class ZI1Transfer : public CProgressDlg {
public:
    using CProgressDlg::CProgressDlg;

protected:
    const DeviceRecord& Device() const;
    bool Send(std::initializer_list<uint8_t> bytes);
    bool SendBlock(const uint8_t* data, size_t n);
    int ReceiveByte();  // -1 when none arrived
    // Reports "Connection error" from the worker; returns the result -1.
    int LinkError();
    // "W" with a delay code, acknowledged by 0x0D.
    bool SendDelayCode(uint8_t code);
    // Load Extended Address byte for offset o; the reply is read and ignored.
    bool SendExtendedAddress(int offset);
    // The read delay code of the Flash or EEPROM with the project's override.
    uint8_t ReadDelayCode(bool isFlash) const;
    // The AT89S per-byte pause: the override when set, else `fallbackMs`.
    int BytePauseMs(bool isFlash, int fallbackMs) const;
    // Reads `count` bytes of Flash or EEPROM in 64-byte blocks, as read and
    // verify both do, handing each block to `take` (data, offset, length).
    // Returns the operation's result.
    int ReadBlocks(bool isFlash, uint8_t readCommand, int count,
                   const std::function<void(const uint8_t*, int, int)>& take);
};

class ZI1ProgramData : public ZI1Transfer {
public:
    using ZI1Transfer::ZI1Transfer;
    MemoryBuffer* buffer = nullptr;
    bool isFlash = true;
    uint8_t writeCommand = kCmdWriteFlash;
    int limit = 0;

protected:
    int Run() override;

private:
    int RunPages(int count);
    int RunBlocks(int count);
    int RunAt89sBytes(int count);
};

class ZI1ReadData : public ZI1Transfer {
public:
    using ZI1Transfer::ZI1Transfer;
    MemoryBuffer* buffer = nullptr;
    bool isFlash = true;
    uint8_t readCommand = kCmdReadFlash;

protected:
    int Run() override;
};

class ZI1VerifyData : public ZI1Transfer {
public:
    using ZI1Transfer::ZI1Transfer;
    MemoryBuffer* buffer = nullptr;
    bool isFlash = true;
    uint8_t readCommand = kCmdReadFlash;
    int limit = 0;
    bool matches = true;
    // The offset of the first difference, -1 while none; read after DoModal.
    int firstMismatch = -1;

protected:
    int Run() override;

private:
    void Compare(const uint8_t* got, int offset, int n);
};

class ZI1BlankCheck : public ZI1Transfer {
public:
    using ZI1Transfer::ZI1Transfer;

protected:
    int Run() override;
};

// Uploads a 12288-byte image to the board's bootloader.
class ZI1SelfProgram : public ZI1Transfer {
public:
    using ZI1Transfer::ZI1Transfer;
    static constexpr size_t kImageSize = 12288;
    const std::vector<uint8_t>* image = nullptr;

protected:
    int Run() override;

private:
    int FailAndClose(int messageId);
};

}  // namespace zelko
