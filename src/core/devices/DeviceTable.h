// The built-in table of supported devices and their seven groups.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace zelko {

// How the chip enters programming mode and is addressed.
enum InterfaceKind : int {
    kInterfaceAvr = 0,
    kInterfaceAt89s = 4,      // AT89S51, AT89S52, AT89S2051, AT89S4051
    kInterfaceAt89s8253 = 12,
};

struct DeviceRecord {
    int group;                       // 0..6, index into the group names
    const char* name;
    int pageWords;                   // Flash page in 16-bit words; 0 = byte by byte
    int flashSize;                   // bytes
    int eepromSize;                  // bytes; 0 = no EEPROM
    std::array<uint8_t, 6> signature;  // A (3 bytes), then B (3 bytes; = A when none)
    int interfaceKind;
    int flashWriteDelayCode;         // timing codes, one byte each
    int flashReadDelayCode;
    int eepromWriteDelayCode;
    int eepromReadDelayCode;
    int pageWriteMs;
    int deviceCode;                  // sent after the select-device command
    int lockFuseTableIndex;          // 0..38, -1 = none
    int calibrationCount;            // 0, 1, 2 or 4
    int deviceNo;                    // number stored in project files
};

inline constexpr int kDeviceCount = 86;
inline constexpr int kGroupCount = 7;

std::span<const DeviceRecord> DeviceTable();

// The record at a table position 0..85 (record 0 for any other index).
const DeviceRecord& DeviceAt(int index);

// The first record whose signature A or B equals the three bytes; -1 when none,
// or when s0 is neither 0x1E nor 0x1F.
int FindBySignature(int s0, int s1, int s2);

// Whether three signature bytes are the record's signature A or B.
bool SignatureBelongsTo(const DeviceRecord& record, int s0, int s1, int s2);

// The first record with this device number; 0 when none has it.
int FindByDeviceNo(int deviceNo);

// The table index of the device with this exact name; -1 when none.
int FindByName(std::string_view name);

const char* GroupName(int group);

// Listing for the group and device lists.
int DeviceCountInGroup(int group);
// The table index of the k-th device (0-based) of the group; -1 when none.
int DeviceInGroup(int group, int k);
// The position of a device among the devices of its group.
int PositionInGroup(int deviceIndex);

}  // namespace zelko
