#pragma once
// The synchronisation cycle's state, shown by the state indicator. The values
// are the ones the indicator and the logs have always used.

enum class SyncState : int {
    Offline = 0,     // no connection
    Online = 1,      // the reader answers
    Exchanging = 2,  // records are being copied
    Suspended = 3,   // the operator has suspended synchronisation
};
