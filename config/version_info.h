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

// The longest pause between the mirrors' starts that a version-info file can
// ask for, in ms. The pause only staggers the starts, and the race sleeps it
// four times whatever URLs are given: 10 s already holds the last mirror back
// 40 s, beyond that the race is pointless. Unbounded, "-1" reads as
// 4294967295, which Sleep takes as INFINITE: the download would never end.
constexpr uint32_t kMaxSleepIntervalMs = 10000;

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
// Clears the URLs, then reads "DOWNLOAD.<edition>" and the architecture's
// section; a sleepInterval above kMaxSleepIntervalMs becomes that.
void ReadDownloadInfo(const IniDocument& document, const std::wstring& edition, DownloadInfo* info);
// What the CRC32 text asks of the setup file.
enum Crc32Rule : int32_t {
  Crc32Compare = 0,      // its CRC-32 must be the value
  Crc32Skip = 1,         // not compared: exactly "FFFFFFFF" (either case, optional 0x)
  Crc32MatchesNone = 2,  // a sign or more than 32 bits: no file is the one meant
};
// The CRC32 text as a number in *value, read as wcstoul does in base 16 (white
// space and an optional 0x skipped, up to the first other character; no
// digits give 0), and the rule it asks for. Only the publishing tool's own
// skip text skips: a text that wcstoul would take to 0xFFFFFFFF by overflow
// or by a sign ("-1") matches no file.
Crc32Rule Crc32FromText(const std::wstring& text, uint32_t* value);

}  // namespace tw
