// The race's result record when its caller lets go of it mid-transfer (a
// window closed during the download). While the check runs, every freed block
// is filled with a pattern and kept: a write after the free breaks the pattern.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "harness/test_util.h"
#include "net/transfer_messages.h"
#include "net/xhttp_multi.h"
#include "net_test_util.h"

namespace {

constexpr unsigned char kPoison = 0xDD;
constexpr size_t kHeader = 16;   // the block's size in front, keeping 16-byte alignment
volatile LONG g_quarantine = 0;  // 1: freed blocks are poisoned and kept

void* Allocate(size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) std::abort();
  std::memcpy(block, &size, sizeof(size));
  return block + kHeader;
}

void Free(void* memory) {
  if (memory == nullptr) return;
  unsigned char* const block = static_cast<unsigned char*>(memory) - kHeader;
  if (InterlockedCompareExchange(&g_quarantine, 1, 1) == 0) return std::free(block);
  std::memset(memory, kPoison, *reinterpret_cast<size_t*>(block));
}

bool Poisoned(const void* memory) {
  const auto* bytes = static_cast<const unsigned char*>(memory);
  for (size_t i = 0; i < sizeof(tw::XHttpMultiResult); ++i) {
    if (bytes[i] != kPoison) return false;
  }
  return true;
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* memory) noexcept { Free(memory); }
void operator delete[](void* memory) noexcept { Free(memory); }
void operator delete(void* memory, size_t) noexcept { Free(memory); }
void operator delete[](void* memory, size_t) noexcept { Free(memory); }

TEST(MultiResultOwnership, TheControllerWritesOnlyARecordThatIsStillAlive) {
  nettest::MessageRecorder recorder;
  tw::XHttpMultiRequest request;
  request.filePath = twtest::MakeScratchFolder(L"ownership") + L"setup.bin";
  request.targetWindow = recorder.window();
  // The only mirror fails a second after the start: the controller writes the
  // outcome long after the caller has let go.
  request.urls[0] = nettest::ServerBase() + L"/gen/10?status=404&delay_ms=1000";
  tw::XHttpOptions options;
  options.connectRetries = 1;
  auto result = tw::XHttpMultiResult::Create();
  const void* const record = result.Get();
  InterlockedExchange(&g_quarantine, 1);
  ASSERT_TRUE(tw::XHttpMulti_GetAsync(request, &options, result)) << GetLastError();
  result.Reset();
  EXPECT_FALSE(Poisoned(record)) << "freed while the transfer runs";
  ASSERT_TRUE(recorder.WaitComplete(30000)) << recorder.Sequence();
  EXPECT_EQ(recorder.Last(tw::WM_XHTTP_ERR), tw::XHttpErrStatus4xx);
  // The controller's reference goes with the transfer, after COMPLETE; nothing may touch the record after that.
  for (DWORD start = GetTickCount(); !Poisoned(record) && GetTickCount() - start < 10000;) Sleep(20);
  EXPECT_TRUE(Poisoned(record)) << "never freed, or written after it was freed";
  InterlockedExchange(&g_quarantine, 0);
}
