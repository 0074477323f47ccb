// Pieces of the link session shared by the session and identification code.
#pragma once

namespace zelko {

class Controller;

inline constexpr int kSyncFailed = -1;

// After a '%' went out: reads the board's answer, resynchronises once on an
// unexpected byte, and reports a failure itself. Returns '+' or '*', or
// kSyncFailed.
int SynchroniseBoard(Controller& c);

// Adds the status and log line naming the device that failed to open and why.
void ReportOpenFailureReason(Controller& c);

}  // namespace zelko
