#include "ui/window_station.h"

namespace tw {

bool IsStationHidden(bool flagsRead, DWORD stationFlags) { return flagsRead && (stationFlags & WSF_VISIBLE) == 0; }

bool IsOwnStationHidden() {
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  // The handle is the process's own and is not to be closed.
  const HWINSTA station = GetProcessWindowStation();
  const bool read = station != nullptr &&
                    GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed) != FALSE;
  return IsStationHidden(read, flags.dwFlags);
}

}  // namespace tw
