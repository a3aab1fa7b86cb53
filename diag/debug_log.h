// Trace texts to a debugging tool's receiver window (class "#32770", title
// "XRecv") by WM_COPYDATA. Nothing is formatted when no receiver exists; a
// receiver that has not taken a trace within a second is given up on.
#pragma once

namespace tw {

void SendDebugLog(const wchar_t* format, ...);
// The same, formatted into 4,096 characters at most (longer text is cut).
void SendDebugLogFixed(const wchar_t* format, ...);

}  // namespace tw
