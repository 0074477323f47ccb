// Helpers for talking to a simulated board or chip in tests.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/SimBoard.h"
#include "sim/SimChip.h"

namespace zelko::sim::test {

using Bytes = std::vector<uint8_t>;

inline Bytes Send(SimBoard& board, const Bytes& bytes)
{
    Bytes out;
    for (const ReplyByte& r : board.Exchange(bytes.data(), bytes.size(), 0))
        out.push_back(r.byte);
    return out;
}

inline Bytes Send(SimBoard& board, std::initializer_list<uint8_t> bytes)
{
    return Send(board, Bytes(bytes));
}

inline Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline SimConfig ConfigFor(const std::string& device, const std::string& options = "")
{
    SimConfig c;
    std::string error;
    if (!ApplySimOption(c, "device", device, error) || !ApplySimOptions(c, options, error))
        throw std::runtime_error(error);
    return c;
}

// Puts a chip into programming mode the way the board does.
inline void EnableProgramming(SimChip& chip)
{
    if (chip.IsAvr()) {
        chip.BeginResetStrobe();
        chip.SetResetLow(true);
        chip.SetResetLow(false);
        chip.SetResetLow(true);
    } else {
        chip.PrepareAt89s();
    }
    chip.Transfer({0xAC, 0x53, 0x00, 0x00});
}

inline uint8_t Spi(SimChip& chip, uint8_t a, uint8_t b, uint8_t c, uint8_t d = 0)
{
    return chip.Transfer({a, b, c, d})[3];
}

// Opens a session on a board as the program does at speed index 0: sync,
// version, device code, address 0, mode packet, reset strobe or '+', enable.
inline void OpenSession(SimBoard& board)
{
    const SimChip& chip = board.Chip();
    Send(board, {'%'});
    Send(board, {'@'});
    Send(board, {'&', static_cast<uint8_t>(chip.Device().deviceCode)});
    Send(board, {':', 0, 0});
    Send(board, {'#', 0, 0x82, 0});
    if (chip.IsAvr())
        Send(board, {'Q', 'L', 'U', 'L'});
    else
        Send(board, {'+'});
    Send(board, {'4', 0xAC, 0x53, 0x00, 0x00});
}

}  // namespace zelko::sim::test
