// file_crc_bench: GetFileCrc32 against a bare loop of 4,096-byte ReadFile
// calls over the same file, under Wine. Alternating rounds, best of each.
//   file_crc_bench <path> [megabytes]
// Writes the file first (pseudo-random bytes), removes it at the end, and
// prints "key value" lines: seconds of each and their ratio.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "support/crc32.h"
#include "support/unique_handle.h"

namespace {

constexpr DWORD kBlock = 4096;  // bytes per ReadFile, as GetFileCrc32 reads
constexpr int kRounds = 7;

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool WriteTestFile(const wchar_t* path, uint64_t bytes) {
  tw::UniqueFile file(
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::unique_ptr<uint8_t[]> chunk(new uint8_t[1 << 20]);
  uint32_t seed = 1;
  for (uint64_t done = 0; done < bytes; done += 1 << 20) {
    for (int i = 0; i < (1 << 20); ++i) chunk[i] = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    DWORD written = 0;
    if (!WriteFile(file.Get(), chunk.get(), 1 << 20, &written, nullptr) || written != 1 << 20) return false;
  }
  return true;
}

// The reference: open as GetFileCrc32 opens, read in 4,096-byte blocks, nothing else.
bool BareReadLoop(const wchar_t* path, uint64_t* total) {
  tw::UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBlock]);
  *total = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.Get(), buffer.get(), kBlock, &got, nullptr) || got == 0) break;
    *total += got;
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: file_crc_bench <path> [megabytes]\n");
    return 2;
  }
  const wchar_t* path = argv[1];
  const uint64_t megabytes = argc > 2 ? wcstoul(argv[2], nullptr, 10) : 256;
  if (!WriteTestFile(path, megabytes << 20)) {
    std::fprintf(stderr, "cannot write the test file: %lu\n", GetLastError());
    return 1;
  }
  double bestCrc = 1e9, bestBare = 1e9;
  uint32_t crc = 0;
  uint64_t total = 0;
  bool ok = true;
  // Alternating order, so that neither loop always runs right after the other.
  for (int round = 0; round < kRounds; ++round) {
    double crcSeconds = 0, bareSeconds = 0;
    for (int step = 0; step < 2; ++step) {
      const bool crcStep = (step == 0) == (round % 2 == 0);
      const double start = Now();
      ok = (crcStep ? tw::GetFileCrc32(path, &crc) : BareReadLoop(path, &total)) && ok;
      (crcStep ? crcSeconds : bareSeconds) = Now() - start;
    }
    if (crcSeconds < bestCrc) bestCrc = crcSeconds;
    if (bareSeconds < bestBare) bestBare = bareSeconds;
  }
  DeleteFileW(path);
  std::printf("bytes %llu\nok %d\ncrc %08x\n", static_cast<unsigned long long>(total), ok ? 1 : 0, crc);
  std::printf("file_crc_s %.4f\nbare_read_s %.4f\n", bestCrc, bestBare);
  std::printf("file_crc_gbps %.3f\nbare_read_gbps %.3f\n", total / bestCrc / 1e9, total / bestBare / 1e9);
  std::printf("ratio %.3f\n", bestCrc / bestBare);
  return ok ? 0 : 1;
}
