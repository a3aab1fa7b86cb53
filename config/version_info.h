// The version-info file's download description and the machine architecture
// that chooses its section.
#pragma once

#include <cstdint>
#include <string>

#include "config/ini_document.h"

namespace tw {

enum MachineArch : int {
  MachineArchX86 = 1,
  MachineArchX64 = 2,
  MachineArchA64 = 3,
};

struct DownloadInfo {
  std::wstring urls[5];         // URL1..URL5; empty = no URL in that slot
  uint32_t sleepInterval = 0;   // milliseconds
  std::wstring crc32Text;       // CRC32 as written in the file
  std::wstring sha256Text;      // SHA256 as written in the file; empty: none offered
  std::wstring fileName;        // FILENAME
};

// 1 (X86), 2 (X64) or 3 (A64), from the native machine of the operating
// system; computed once per process.
int DetectMachineArch();
// The code of a native machine reported by IsWow64Process2 (IMAGE_FILE_MACHINE_*):
// ARM64 3, AMD64 2, I386 1; 0 for any other machine (undecided).
int MachineArchFromNativeMachine(unsigned short nativeMachine);
// The code of GetNativeSystemInfo's processor architecture: AMD64 (9) 2, else 1.
int MachineArchFromProcessorArchitecture(unsigned short processorArchitecture);
// The tag of an architecture code: "X86", "X64" or "A64".
const wchar_t* MachineArchTag(int arch);
// "DOWNLOAD." + edition + "." + tag; also sent as a debug trace.
std::wstring GetUpdateDownloadSectionName(const std::wstring& edition);
// Reads FILENAME, CRC32, SHA256, URL1..URL5 and sleepInterval of one section
// over the current field values.
void ReadDownloadSection(const IniDocument& document, const std::wstring& section, DownloadInfo* info);
// Clears the URLs, then reads "DOWNLOAD.<edition>" and the architecture's section.
void ReadDownloadInfo(const IniDocument& document, const std::wstring& edition, DownloadInfo* info);

}  // namespace tw
