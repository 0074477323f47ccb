// Pauses of the board protocol. Tests replace the sleeper to run the protocol
// in virtual time and to record the pauses it keeps.
#pragma once

#include <functional>

namespace zelko {

// Sleeps for ms milliseconds (through the installed sleeper, if any).
void SleepMs(int ms);

// Installs a sleeper for all threads; nullptr restores real sleeping.
void SetSleeper(std::function<void(int)> sleeper);

}  // namespace zelko
