// What the simulated ZI1 board and its target chip look like, and which faults
// they show. One plain struct, filled from "key=value" options that the zi1sim
// command line and the "sim:NAME,key=value,..." port names share.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelko::sim {

// A fault bound to the k-th occurrence (1-based) of one command byte.
struct ReplyFault {
    uint8_t command = 0;
    int occurrence = 1;
    int value = -1;  // wrong reply: the byte sent instead; -1 = the right one inverted
};

struct SimConfig {
    // The target chip: a device of the table by name, and optionally a raw
    // signature that the chip answers instead of the device's own.
    std::string device = "ATmega8/8A";
    std::optional<std::array<uint8_t, 3>> signature;
    std::vector<uint8_t> calibration;  // empty: plausible bytes for the device
    std::optional<uint8_t> lock;       // lock byte as read back
    std::optional<uint8_t> lowFuse;    // fuse bytes as read back
    std::optional<uint8_t> highFuse;
    std::optional<uint8_t> extendedFuse;
    bool locked = false;       // answers 00 01 02 and hides its memories
    bool staysLocked = false;  // ... and a chip erase does not help

    // The board.
    std::string version = "10c";        // version of the firmware it runs
    std::string loaderVersion = "ldr";  // version its bootloader reports
    bool firmware = true;               // false: only the bootloader, '%' answers '-'
    bool bootloader = false;            // starts in its bootloader (as after a power cycle)
    std::string name = "ZI1 programmer ZK-01 (simulated)";
    std::string loaderName = "ZI1 Bootloader";
    std::array<uint8_t, 5> serial{0x20, 0x26, 0x12, 0x00, 0x01};
    bool star = false;  // answers '%' with '*' instead of '+'

    // Faults.
    std::vector<ReplyFault> noReply;     // the command is carried out, its reply is lost
    std::vector<ReplyFault> wrongReply;  // the last byte of the reply is wrong
    std::vector<ReplyFault> truncated;   // the last byte of the reply is missing
    int pollFailBlock = 0;               // k-th block write ('{' or '>') answers 0x1B
    std::vector<uint8_t> garbage;        // sent before the board's first '%' reply
    int slowMs = 0;                      // pause before each reply byte
};

// Applies one option. Keys: device, signature, cal, lock, lfuse, hfuse, efuse,
// locked, stuck, version, loader, firmware, bootloader, name, loadername,
// serial, star, noreply, wrongreply, truncate, pollfail, garbage, slow.
bool ApplySimOption(SimConfig& config, std::string_view key, std::string_view value,
                    std::string& error);

// Applies a comma-separated list of key=value options.
bool ApplySimOptions(SimConfig& config, std::string_view list, std::string& error);

// One line per option, for --help.
const char* SimOptionsHelp();

// Parses a port name "sim" or "sim:NAME[,key=value...]" (the name may also be
// given as device=NAME). `selectedDevice` is the program's device index, the
// chip of a plain "sim". False with `error` when the name or an option is bad.
bool ParseSimPortName(const std::string& portName, int selectedDevice, SimConfig& config,
                  std::string& error);

// Line speed of a speed index of the mode packet.
int BaudForSpeedIndex(int index);

}  // namespace zelko::sim
