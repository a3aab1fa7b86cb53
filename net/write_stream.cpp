#include "net/write_stream.h"

#include <cstdlib>
#include <cstring>

#include "support/file_helpers.h"
#include "support/system_library.h"

namespace tw {

// ---------------------------------------------------------------- file stream

XFileWriteStream::XFileWriteStream() : buffer_(new uint8_t[kBufferSize]) {}

XFileWriteStream::~XFileWriteStream() { Close(); }

bool XFileWriteStream::Open(const std::wstring& path) {
  Close();
  // The file usually goes to the user's temporary folder, where another
  // process may have put a link under its name: never written through.
  // DELETE: a file that is discarded goes through this handle (Discard).
  const HANDLE handle = CreateFileNoFollow(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ);
  if (handle == INVALID_HANDLE_VALUE) return false;  // last error is the creation's
  file_.Reset(handle);
  fileName_ = path;
  return true;
}

void XFileWriteStream::Close() {
  // Bytes still buffered after a failed flush are dropped; the owner has
  // already been told by the failed Write.
  (void)Flush();
  file_.Reset();
  buffered_ = 0;
  position_ = 0;
  fileName_.clear();
}

void XFileWriteStream::Discard() {
  decltype(&::SetFileInformationByHandle) setInformation = nullptr;  // Vista on
  FILE_DISPOSITION_INFO disposition = {TRUE};
  const bool marked = file_ && LookUpFunction(GetModuleHandleW(L"kernel32.dll"), "SetFileInformationByHandle",
                                              &setInformation) &&
                      setInformation(file_.Get(), FileDispositionInfo, &disposition, sizeof(disposition));
  const std::wstring name = fileName_;
  buffered_ = 0;  // nothing more is written to a file that goes
  Close();
  if (!marked && !name.empty()) DeleteFileW(name.c_str());
}

bool XFileWriteStream::Flush() {
  if (!file_ || buffered_ == 0) {
    buffered_ = 0;
    return true;
  }
  DWORD written = 0;
  if (!WriteFile(file_.Get(), buffer_.get(), buffered_, &written, nullptr)) return false;
  if (written != buffered_) {
    SetLastError(ERROR_DISK_FULL);
    return false;
  }
  buffered_ = 0;
  return true;
}

bool XFileWriteStream::Write(const void* data, uint32_t length) {
  if (!file_) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (kBufferSize - buffered_ >= length) {
    if (length != 0) std::memcpy(buffer_.get() + buffered_, data, length);
    buffered_ += length;
  } else {
    // Too big for what is left: empty the buffer, then hand the whole block
    // to the file in one call, without copying it.
    if (!Flush()) return false;
    DWORD written = 0;
    if (!WriteFile(file_.Get(), data, length, &written, nullptr)) return false;
    if (written != length) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
  }
  position_ += length;
  return true;
}

int64_t XFileWriteStream::Seek(int64_t position) {
  (void)Flush();  // a failed flush shows at the next Write or Close
  LONG high = static_cast<LONG>(position >> 32);
  const DWORD low = SetFilePointer(file_.Get(), static_cast<LONG>(position & 0xFFFFFFFF), &high,
                                   FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() == ERROR_NEGATIVE_SEEK) return position_;
  position_ = position;
  return position_;
}

int64_t XFileWriteStream::GetPosition() { return position_; }

int64_t XFileWriteStream::GetSize() {
  (void)Flush();  // the size reports what reached the file
  LARGE_INTEGER size;
  if (!file_ || !GetFileSizeEx(file_.Get(), &size)) return -1;
  return size.QuadPart;
}

const std::wstring& XFileWriteStream::FileName() const { return fileName_; }

// -------------------------------------------------------------- memory stream

XMemoryWriteStream::~XMemoryWriteStream() {
  if (!ownsData_) return;
  if (reserved_) {
    VirtualFree(data_, 0, MEM_RELEASE);
  } else {
    std::free(data_);
  }
}

bool XMemoryWriteStream::Grow(uint64_t required) {
  uint64_t capacity = capacity_ < 4096 ? 4096 : capacity_;
  while (capacity < required) {
    capacity *= 2;
    if (capacity > kMaxCapacity) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
  }
  static_assert(kLargestCapacity * 2 > kMaxCapacity, "the reserved region holds every capacity");

  if (capacity <= kHeapCapacity) {
    // Reallocating a buffer we do not own would free someone else's memory.
    void* grown = ownsData_ ? std::realloc(data_, static_cast<size_t>(capacity))
                            : std::malloc(static_cast<size_t>(capacity));
    if (grown == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    uint8_t* bytes = static_cast<uint8_t*>(grown);
    if (!ownsData_ && data_ != nullptr && capacity_ != 0) std::memcpy(bytes, data_, capacity_);
    std::memset(bytes + capacity_, 0, static_cast<size_t>(capacity - capacity_));
    data_ = bytes;
  } else if (reserved_) {
    // Freshly committed pages read as zero.
    if (VirtualAlloc(data_ + capacity_, static_cast<size_t>(capacity - capacity_), MEM_COMMIT,
                     PAGE_READWRITE) == nullptr) {
      return false;  // last error from VirtualAlloc
    }
  } else {
    uint8_t* region = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, static_cast<size_t>(kLargestCapacity), MEM_RESERVE, PAGE_READWRITE));
    if (region == nullptr) return false;
    if (VirtualAlloc(region, static_cast<size_t>(capacity), MEM_COMMIT, PAGE_READWRITE) == nullptr) {
      const DWORD error = GetLastError();
      VirtualFree(region, 0, MEM_RELEASE);
      SetLastError(error);
      return false;
    }
    if (data_ != nullptr && capacity_ != 0) std::memcpy(region, data_, capacity_);
    if (ownsData_) std::free(data_);
    data_ = region;
    reserved_ = true;
  }
  capacity_ = capacity;
  ownsData_ = true;
  return true;
}

bool XMemoryWriteStream::Write(const void* data, uint32_t length) {
  if (capacity_ < position_ || capacity_ - position_ < length) {
    if (!Grow(position_ + length)) return false;
  }
  if (length != 0) std::memcpy(data_ + position_, data, length);
  position_ += length;
  if (position_ > size_) size_ = position_;
  return true;
}

int64_t XMemoryWriteStream::Seek(int64_t position) {
  if (position < 0) return 0;
  position_ = static_cast<uint64_t>(position);
  return position;
}

int64_t XMemoryWriteStream::GetPosition() { return static_cast<int64_t>(position_); }

int64_t XMemoryWriteStream::GetSize() { return static_cast<int64_t>(size_); }

}  // namespace tw
