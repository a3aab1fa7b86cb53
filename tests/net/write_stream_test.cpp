#include "net/write_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/test_env.h"

namespace {

using tw::XFileWriteStream;
using tw::XMemoryWriteStream;

int64_t SizeOnDisk(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = twtest::MakeScratchFolder(L"stream") + L"out.bin"; }
  std::wstring path_;
};

TEST_F(FileStreamTest, BufferHoldsUpTo8192BytesAndLargerWritesGoStraightThrough) {
  struct Case {
    size_t first, second;
    int64_t onDiskAfter;  // before Close
  };
  const Case cases[] = {
      {8192, 0, 0},         // fits the empty buffer exactly: nothing written yet
      {8193, 0, 8193},      // too big: written at once, not split
      {100, 8092, 0},       // fills the buffer to the last byte
      {100, 8093, 8193},    // flush of 100, then 8093 straight to the file
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << "+" << c.second);
    XFileWriteStream stream;
    ASSERT_TRUE(stream.Open(path_));
    const std::string a(c.first, 'a'), b(c.second, 'b');
    ASSERT_TRUE(stream.Write(a.data(), static_cast<uint32_t>(a.size())));
    if (!b.empty()) {
      ASSERT_TRUE(stream.Write(b.data(), static_cast<uint32_t>(b.size())));
    }
    EXPECT_EQ(SizeOnDisk(path_), c.onDiskAfter);
    EXPECT_EQ(stream.GetPosition(), static_cast<int64_t>(c.first + c.second));
    stream.Close();
    std::string content;
    ASSERT_TRUE(twtest::ReadWholeFile(path_, &content));
    EXPECT_EQ(content, a + b);
  }
}

TEST_F(FileStreamTest, RefusesWritesWhenNotOpen) {
  XFileWriteStream stream;
  EXPECT_FALSE(stream.Write("x", 1));
  EXPECT_EQ(stream.GetSize(), -1);
  EXPECT_TRUE(stream.FileName().empty());
  ASSERT_TRUE(stream.Open(path_));
  EXPECT_EQ(stream.FileName(), path_);
  stream.Close();
  stream.Close();  // a second Close is harmless
  EXPECT_FALSE(stream.Write("x", 1));
  EXPECT_EQ(stream.GetSize(), -1);
  EXPECT_EQ(stream.GetPosition(), 0);
  EXPECT_TRUE(stream.FileName().empty());
}

TEST_F(FileStreamTest, GetSizeAndSeekFlushFirst) {
  XFileWriteStream stream;
  ASSERT_TRUE(stream.Open(path_));
  ASSERT_TRUE(stream.Write("hello", 5));
  EXPECT_EQ(stream.GetSize(), 5);
  EXPECT_EQ(stream.Seek(1), 1);
  ASSERT_TRUE(stream.Write("A", 1));
  EXPECT_EQ(stream.GetPosition(), 2);
  EXPECT_EQ(stream.Seek(-5), 1 + 1);  // a negative target leaves the position alone
  stream.Close();
  std::string content;
  ASSERT_TRUE(twtest::ReadWholeFile(path_, &content));
  EXPECT_EQ(content, "hAllo");
}

TEST_F(FileStreamTest, ReplacesReadOnlyFile) {
  ASSERT_TRUE(twtest::WriteWholeFile(path_, "old content"));
  ASSERT_TRUE(SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_READONLY));
  XFileWriteStream stream;
  ASSERT_TRUE(stream.Open(path_)) << GetLastError();
  EXPECT_EQ(stream.GetSize(), 0);
  ASSERT_TRUE(stream.Write("new", 3));
  stream.Close();
  // (Whether the read-only attribute survives depends on the system: Wine
  // running as root opens the file without the retry.)
  SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::string content;
  ASSERT_TRUE(twtest::ReadWholeFile(path_, &content));
  EXPECT_EQ(content, "new");
}

TEST_F(FileStreamTest, FileHeldOpenWithoutSharingFailsWithSharingViolation) {
  tw::UniqueFile holder(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder.IsValid());
  XFileWriteStream stream;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(stream.Open(path_));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(stream.FileName().empty());
}

TEST_F(FileStreamTest, FullDiskRefusesWriteAndKeepsPosition) {
  const std::wstring dir = twtest::GetEnv(L"TW_FULLDISK_DIR");
  if (dir.empty()) GTEST_SKIP() << "no 1 MiB tmpfs (TW_FULLDISK_DIR; the fixture needs root)";
  const std::wstring path = dir + L"stream-full.bin";
  {
    XFileWriteStream stream;
    ASSERT_TRUE(stream.Open(path));
    const std::vector<char> block(256 * 1024, 'z');
    int64_t accepted = 0;
    bool refused = false;
    for (int i = 0; i < 8 && !refused; ++i) {  // 2 MiB at most into 1 MiB
      if (stream.Write(block.data(), static_cast<uint32_t>(block.size()))) {
        accepted += static_cast<int64_t>(block.size());
      } else {
        refused = true;
        const DWORD error = GetLastError();
        EXPECT_TRUE(error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) << error;
      }
    }
    EXPECT_TRUE(refused);
    EXPECT_EQ(stream.GetPosition(), accepted);
    stream.Close();
  }
  DeleteFileW(path.c_str());
}

// ------------------------------------------------------------- memory stream

TEST(MemoryStreamTest, CapacityDoublesFrom4096) {
  XMemoryWriteStream stream;
  EXPECT_EQ(stream.Capacity(), 0u);
  EXPECT_EQ(stream.Data(), nullptr);
  ASSERT_TRUE(stream.Write("x", 1));
  EXPECT_EQ(stream.Capacity(), 4096u);
  std::vector<char> block(4096, 'y');
  ASSERT_TRUE(stream.Write(block.data(), 4095));  // exactly full
  EXPECT_EQ(stream.Capacity(), 4096u);
  ASSERT_TRUE(stream.Write("z", 1));
  EXPECT_EQ(stream.Capacity(), 8192u);
  ASSERT_TRUE(stream.Write(block.data(), 4096));
  ASSERT_TRUE(stream.Write(block.data(), 1));
  EXPECT_EQ(stream.Capacity(), 16384u);
  EXPECT_EQ(stream.GetSize(), 4096 + 4096 + 1 + 1);
  EXPECT_EQ(stream.Data()[0], 'x');
  EXPECT_EQ(stream.Data()[4096], 'z');
}

TEST(MemoryStreamTest, Holds64MiBAndRefusesOneByteMoreUnchanged) {
  XMemoryWriteStream stream;
  const uint32_t kBlock = 1 << 20;
  std::vector<uint8_t> block(kBlock);
  for (uint32_t i = 0; i < 64; ++i) {
    block[0] = static_cast<uint8_t>(i);
    ASSERT_TRUE(stream.Write(block.data(), kBlock)) << i;
  }
  EXPECT_EQ(stream.GetSize(), 67108864);
  EXPECT_EQ(stream.Capacity(), 67108864u);
  const uint8_t* data = stream.Data();
  EXPECT_FALSE(stream.Write("!", 1));
  EXPECT_EQ(stream.GetSize(), 67108864);
  EXPECT_EQ(stream.GetPosition(), 67108864);
  EXPECT_EQ(stream.Capacity(), 67108864u);
  EXPECT_EQ(stream.Data(), data);
  EXPECT_EQ(stream.Data()[63u << 20], 63);
}

TEST(MemoryStreamTest, OneWriteBeyondTheCeilingIsRefused) {
  XMemoryWriteStream stream;
  EXPECT_EQ(stream.Seek(67108864), 67108864);
  EXPECT_FALSE(stream.Write("!", 1));
  EXPECT_EQ(stream.GetSize(), 0);
  EXPECT_EQ(stream.Capacity(), 0u);
}

TEST(MemoryStreamTest, SeekSemantics) {
  XMemoryWriteStream stream;
  EXPECT_EQ(stream.Seek(-1), 0);
  EXPECT_EQ(stream.GetPosition(), 0);
  EXPECT_EQ(stream.GetSize(), 0);

  EXPECT_EQ(stream.Seek(100), 100);
  EXPECT_EQ(stream.GetSize(), 0);  // nothing allocated by a seek
  ASSERT_TRUE(stream.Write("\x7f", 1));
  EXPECT_EQ(stream.GetSize(), 101);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(stream.Data()[i], 0) << i;
  EXPECT_EQ(stream.Data()[100], 0x7f);

  // Overwrite inside: size stays.
  EXPECT_EQ(stream.Seek(10), 10);
  ASSERT_TRUE(stream.Write("ab", 2));
  EXPECT_EQ(stream.GetSize(), 101);
  EXPECT_EQ(stream.GetPosition(), 12);
  EXPECT_EQ(stream.Seek(-7), 0);
  EXPECT_EQ(stream.GetPosition(), 12);
}

TEST(MemoryStreamTest, SeekFarBeyondCapacityThenWriteGrowsInsteadOfOverrunning) {
  XMemoryWriteStream stream;
  ASSERT_TRUE(stream.Write("a", 1));  // capacity 4096
  EXPECT_EQ(stream.Seek(10000), 10000);
  ASSERT_TRUE(stream.Write("b", 1));
  EXPECT_EQ(stream.Capacity(), 16384u);
  EXPECT_EQ(stream.GetSize(), 10001);
  EXPECT_EQ(stream.Data()[9999], 0);
  EXPECT_EQ(stream.Data()[10000], 'b');
}

}  // namespace
