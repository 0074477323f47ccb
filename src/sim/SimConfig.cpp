#include "sim/SimConfig.h"

#include <cctype>
#include <charconv>

#include "core/devices/DeviceTable.h"
#include "core/link/SerialPort.h"

namespace zelko::sim {
namespace {

std::string Lower(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

bool ParseBool(std::string_view v, bool& out)
{
    const std::string s = Lower(v);
    if (s.empty() || s == "1" || s == "true" || s == "yes" || s == "on") {
        out = true;
        return true;
    }
    if (s == "0" || s == "false" || s == "no" || s == "off") {
        out = false;
        return true;
    }
    return false;
}

bool ParseInt(std::string_view v, int& out)
{
    int base = 10;
    if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        v.remove_prefix(2);
        base = 16;
    }
    if (v.empty())
        return false;
    const auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), out, base);
    return ec == std::errc() && p == v.data() + v.size();
}

// "1E9307", "1E 93 07", "1e-93-07", "0x1E9307": hex digits in pairs.
bool ParseHexBytes(std::string_view v, std::vector<uint8_t>& out)
{
    out.clear();
    if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X'))
        v.remove_prefix(2);
    std::string digits;
    for (char c : v) {
        if (c == ' ' || c == '-' || c == ':' || c == '.' || c == '_')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        digits += c;
    }
    if (digits.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return true;
}

bool ParseByte(std::string_view v, uint8_t& out)
{
    int n = 0;
    if (ParseInt(v, n) && n >= 0 && n <= 255) {
        out = static_cast<uint8_t>(n);
        return true;
    }
    std::vector<uint8_t> bytes;
    if (ParseHexBytes(v, bytes) && bytes.size() == 1) {
        out = bytes[0];
        return true;
    }
    return false;
}

// "C:K[:V]": C a command character or 0xHH, K the occurrence, V the wrong byte.
bool ParseFault(std::string_view v, bool withValue, ReplyFault& f)
{
    std::string_view rest;
    if (v.size() >= 4 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        const size_t colon = v.find(':', 2);
        int c = 0;
        if (colon == std::string_view::npos || !ParseInt(v.substr(0, colon), c) || c < 0 ||
            c > 255)
            return false;
        f.command = static_cast<uint8_t>(c);
        rest = v.substr(colon + 1);
    } else {
        if (v.size() < 3 || v[1] != ':')
            return false;
        f.command = static_cast<uint8_t>(v[0]);
        rest = v.substr(2);
    }
    const size_t colon = rest.find(':');
    const std::string_view k = rest.substr(0, colon);
    if (!ParseInt(k, f.occurrence) || f.occurrence < 1)
        return false;
    f.value = -1;
    if (colon != std::string_view::npos) {
        uint8_t b = 0;
        if (!withValue || !ParseByte(rest.substr(colon + 1), b))
            return false;
        f.value = b;
    }
    return true;
}

int ResolveDevice(std::string_view name)
{
    const auto table = DeviceTable();
    const std::string want = Lower(name);
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i].name == name)
            return static_cast<int>(i);
    for (size_t i = 0; i < table.size(); ++i)
        if (Lower(table[i].name) == want)
            return static_cast<int>(i);
    // One variant of a combined name: "ATmega8" or "ATmega8A" for "ATmega8/8A",
    // "ATmega328P" for "ATmega328/328P".
    for (size_t i = 0; i < table.size(); ++i) {
        const std::string full = Lower(table[i].name);
        const std::string first = full.substr(0, full.find('/'));
        if (first == want)
            return static_cast<int>(i);
        for (size_t slash = full.find('/'); slash != std::string::npos;) {
            const size_t end = full.find('/', slash + 1);
            const std::string variant = full.substr(slash + 1, end - slash - 1);
            for (size_t k = 2; k <= first.size(); ++k)
                if (first.substr(0, k) + variant == want)
                    return static_cast<int>(i);
            slash = end;
        }
    }
    return -1;
}

}  // namespace

int BaudForSpeedIndex(int index)
{
    // The board switches to the same speeds the program opens the port at.
    return SerialPort::BaudForIndex(index);
}

bool ApplySimOption(SimConfig& c, std::string_view key, std::string_view value,
                    std::string& error)
{
    const std::string k = Lower(key);
    auto bad = [&](const char* what) {
        error = "bad value '" + std::string(value) + "' for " + k + " (" + what + ")";
        return false;
    };
    std::vector<uint8_t> bytes;
    if (k == "device") {
        const int index = ResolveDevice(value);
        if (index < 0) {
            error = "unknown device '" + std::string(value) + "'";
            return false;
        }
        c.device = DeviceAt(index).name;
    } else if (k == "signature") {
        if (!ParseHexBytes(value, bytes) || bytes.size() != 3)
            return bad("three hex bytes, e.g. 1E9307");
        c.signature = std::array<uint8_t, 3>{bytes[0], bytes[1], bytes[2]};
    } else if (k == "cal") {
        if (!ParseHexBytes(value, bytes) || bytes.size() > 4)
            return bad("up to four hex bytes, e.g. 5A4F");
        c.calibration = bytes;
    } else if (k == "lock" || k == "lfuse" || k == "hfuse" || k == "efuse") {
        uint8_t b = 0;
        if (!ParseByte(value, b))
            return bad("a byte, e.g. 0xFC");
        (k == "lock" ? c.lock : k == "lfuse" ? c.lowFuse : k == "hfuse" ? c.highFuse
                                                                         : c.extendedFuse) = b;
    } else if (k == "locked" || k == "stuck" || k == "firmware" || k == "bootloader" ||
               k == "star") {
        bool b = false;
        if (!ParseBool(value, b))
            return bad("0 or 1");
        (k == "locked" ? c.locked : k == "stuck" ? c.staysLocked : k == "firmware" ? c.firmware
                                                               : k == "bootloader" ? c.bootloader
                                                                                   : c.star) = b;
        if (k == "stuck" && b)
            c.locked = true;
    } else if (k == "version" || k == "loader") {
        if (value.size() != 3)
            return bad("three characters, e.g. 10c");
        (k == "version" ? c.version : c.loaderVersion) = std::string(value);
    } else if (k == "name" || k == "loadername") {
        if (value.size() > 255)
            return bad("at most 255 characters");
        (k == "name" ? c.name : c.loaderName) = std::string(value);
    } else if (k == "namelen") {
        // A generated name of exactly n characters, for long-name tests.
        int n = 0;
        if (!ParseInt(value, n) || n < 0 || n > 255)
            return bad("0..255");
        c.name.clear();
        for (int i = 0; i < n; ++i)
            c.name += static_cast<char>('A' + i % 26);
    } else if (k == "serial") {
        if (!ParseHexBytes(value, bytes) || bytes.size() != 5)
            return bad("five hex bytes");
        std::copy(bytes.begin(), bytes.end(), c.serial.begin());
    } else if (k == "noreply" || k == "wrongreply" || k == "truncate") {
        ReplyFault f;
        if (!ParseFault(value, k == "wrongreply", f))
            return bad(k == "wrongreply" ? "C:K or C:K:V, e.g. %:1:0x00" : "C:K, e.g. @:1");
        (k == "noreply" ? c.noReply : k == "wrongreply" ? c.wrongReply : c.truncated).push_back(f);
    } else if (k == "pollfail") {
        if (!ParseInt(value, c.pollFailBlock) || c.pollFailBlock < 0)
            return bad("a block number from 1");
    } else if (k == "garbage") {
        if (!ParseHexBytes(value, bytes))
            return bad("hex bytes, e.g. 00");
        c.garbage = bytes;
    } else if (k == "slow") {
        if (!ParseInt(value, c.slowMs) || c.slowMs < 0 || c.slowMs > 60000)
            return bad("milliseconds");
    } else {
        error = "unknown option '" + std::string(key) + "'";
        return false;
    }
    return true;
}

bool ApplySimOptions(SimConfig& config, std::string_view list, std::string& error)
{
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (item.empty())
            continue;
        const size_t eq = item.find('=');
        const std::string_view key = item.substr(0, eq);
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
        if (!ApplySimOption(config, key, value, error))
            return false;
    }
    return true;
}

const char* SimOptionsHelp()
{
    return "  device=NAME        target chip, a device of the table (default ATmega8/8A)\n"
           "  signature=HEX      the chip answers these three signature bytes instead\n"
           "  cal=HEX            calibration bytes (up to four)\n"
           "  lock=B lfuse=B hfuse=B efuse=B  lock and fuse bytes as read back\n"
           "  locked=1           the chip is locked: signature 00 01 02, memories hidden\n"
           "  stuck=1            locked, and a chip erase does not unlock it\n"
           "  version=VVV        version of the board's firmware (default 10c)\n"
           "  loader=VVV         version its bootloader reports (default ldr)\n"
           "  firmware=0         the board has no firmware: '%' answers '-'\n"
           "  bootloader=1       the board starts in its bootloader\n"
           "  name=TEXT          board name answered to '?'; namelen=N makes an N-character one\n"
           "  loadername=TEXT    the bootloader's name\n"
           "  serial=HEX         five serial number bytes\n"
           "  star=1             '%' is answered with '*' instead of '+'\n"
           "  noreply=C:K        no reply to the K-th command C (C a character or 0xHH)\n"
           "  wrongreply=C:K[:V] the last reply byte to the K-th command C is wrong (or V)\n"
           "  truncate=C:K       the last reply byte to the K-th command C is missing\n"
           "  pollfail=K         the K-th block write is answered 0x1B (data polling failed)\n"
           "  garbage=HEX        bytes sent before the first reply to '%'\n"
           "  slow=MS            a pause of MS milliseconds before each reply byte\n";
}

bool ParseSimPortName(const std::string& portName, int selectedDevice, SimConfig& config,
                  std::string& error)
{
    config = SimConfig();
    if (selectedDevice >= 0 && selectedDevice < static_cast<int>(DeviceTable().size()))
        config.device = DeviceAt(selectedDevice).name;
    if (portName == "sim")
        return true;
    if (portName.rfind("sim:", 0) != 0 && portName.rfind("sim,", 0) != 0) {
        error = "not a simulator port name: " + portName;
        return false;
    }
    std::string_view rest = std::string_view(portName).substr(4);
    if (portName[3] == ':') {
        const size_t comma = rest.find(',');
        const std::string_view first = rest.substr(0, comma);
        if (!first.empty() && first.find('=') == std::string_view::npos) {
            if (!ApplySimOption(config, "device", first, error))
                return false;
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
    }
    return ApplySimOptions(config, rest, error);
}

}  // namespace zelko::sim
