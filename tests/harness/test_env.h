// What the test fixture tells the tests through the environment: the ports of
// the local test servers and folders of the test run.
#pragma once

#include <string>

namespace twtest {

// The value of an environment variable, empty when unset.
std::wstring GetEnv(const wchar_t* name);
// A fresh empty folder (ending with a backslash) under the test run's
// temporary folder, unique per call.
std::wstring MakeScratchFolder(const wchar_t* hint);
// Writes bytes to a file, replacing it. Returns false on any failure.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string* bytes);

}  // namespace twtest
