// Whether anybody can see this process's windows. A program started on a
// window station that is not interactive (a service's, or by a deployment
// tool running as LocalSystem) shows its windows and dialogs to nobody, and a
// dialog there waits for ever.
#pragma once

#include <windows.h>

namespace tw {

// The decision: the station's UOI_FLAGS, when they could be read, lack
// WSF_VISIBLE. Flags that cannot be read leave it visible, as before.
bool IsStationHidden(bool flagsRead, DWORD stationFlags);

// Reads the flags of the process's window station and decides.
bool IsOwnStationHidden();

}  // namespace tw
