// Output streams of the transfers: write-only, with a 64-bit position.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "support/unique_handle.h"

namespace tw {

class XWriteStream {
 public:
  virtual ~XWriteStream() = default;
  virtual bool Write(const void* data, uint32_t length) = 0;
  // Absolute position; returns the position afterwards.
  virtual int64_t Seek(int64_t position) = 0;
  virtual int64_t GetPosition() = 0;
  virtual int64_t GetSize() = 0;
};

// Writes to a file through an 8192-byte buffer; a write is never split between
// the buffer and the file.
class XFileWriteStream : public XWriteStream {
 public:
  static constexpr uint32_t kBufferSize = 8192;

  XFileWriteStream();
  ~XFileWriteStream() override;
  XFileWriteStream(const XFileWriteStream&) = delete;
  XFileWriteStream& operator=(const XFileWriteStream&) = delete;

  // Creates the file anew (as CREATE_ALWAYS would, FILE_SHARE_READ), never
  // through a link at its name (support/file_helpers.h: CreateFileNoFollow).
  // A read-only file of that name is replaced. On failure the thread's last
  // error is the one the failed creation left (ERROR_SHARING_VIOLATION for a
  // file held open, ERROR_ACCESS_DENIED for a folder or a link).
  bool Open(const std::wstring& path);
  void Close();
  // Marks the open file for deletion and closes it: the file goes with this
  // handle, whatever may have taken its name by then. Before Vista, which
  // cannot, it is closed and deleted by name.
  void Discard();
  bool Flush();

  bool Write(const void* data, uint32_t length) override;
  int64_t Seek(int64_t position) override;
  int64_t GetPosition() override;
  int64_t GetSize() override;

  // The path given to Open; empty while no file is open.
  const std::wstring& FileName() const;

 private:
  UniqueFile file_;                   // invalid while no file is open
  std::unique_ptr<uint8_t[]> buffer_;  // kBufferSize bytes, allocated by the constructor
  uint32_t buffered_ = 0;             // bytes waiting in buffer_
  int64_t position_ = 0;
  std::wstring fileName_;
};

// Collects the bytes in a heap buffer of 4096 x 2^k bytes; holds at most
// 67,108,864 bytes (maxCapacity 104,857,600 stops the next doubling).
// Beyond kHeapCapacity the buffer moves once into a reserved region of
// kLargestCapacity bytes whose pages are committed as it grows: no further
// copies, and the grown part is zero without being touched.
class XMemoryWriteStream : public XWriteStream {
 public:
  static constexpr uint64_t kMaxCapacity = 104857600;
  static constexpr uint64_t kLargestCapacity = 67108864;
  static constexpr uint64_t kHeapCapacity = 1048576;

  XMemoryWriteStream() = default;
  ~XMemoryWriteStream() override;
  XMemoryWriteStream(const XMemoryWriteStream&) = delete;
  XMemoryWriteStream& operator=(const XMemoryWriteStream&) = delete;

  bool Write(const void* data, uint32_t length) override;
  int64_t Seek(int64_t position) override;
  int64_t GetPosition() override;
  int64_t GetSize() override;

  const uint8_t* Data() const { return data_; }
  uint64_t Capacity() const { return capacity_; }

 private:
  bool Grow(uint64_t required);

  uint8_t* data_ = nullptr;  // owned when ownsData_; VirtualAlloc'd when reserved_
  bool reserved_ = false;
  uint64_t capacity_ = 0;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
  bool ownsData_ = false;
};

}  // namespace tw
