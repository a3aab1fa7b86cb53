// The main window's back buffer: a 24-bit top-down DIB section (3 bytes per
// pixel, blue green red) and a memory DC that holds it, created at the first
// paint and kept. An empty buffer has every field zero or null.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tw {

class DibBuffer {
 public:
  DibBuffer() = default;
  ~DibBuffer() { Release(); }
  DibBuffer(const DibBuffer&) = delete;
  DibBuffer& operator=(const DibBuffer&) = delete;

  // Creates the DIB section (width, height in pixels, both > 0) and fills it
  // white. On failure the debug receiver is told the system error and the
  // buffer stays empty.
  bool Create(int width, int height);
  // Selects the previous object back into the memory DC, deletes the DC and
  // the bitmap, clears every field.
  void Release();
  bool Resize(int width, int height) {
    Release();
    return Create(width, height);
  }
  // One white top row, copied into every other row.
  bool FillWhite();
  // The memory DC with the bitmap selected, created on first use; null when
  // the buffer is empty.
  HDC DrawingDc();
  // BitBlt of the whole buffer to (0, 0) of dc.
  bool CopyTo(HDC dc);

  // Bytes per row for a 24-bit row of width pixels, a multiple of 4.
  static int StrideFor(int width) { return ((width * 24 + 31) >> 3) & ~3; }

  HBITMAP bitmap() const { return bitmap_; }
  int stride() const { return stride_; }
  int width() const { return width_; }
  int height() const { return height_; }
  const uint8_t* pixels() const { return pixels_; }
  HDC memoryDc() const { return memoryDc_; }

 private:
  HBITMAP bitmap_ = nullptr;       // owned DIB section
  int stride_ = 0;                 // bytes per row
  int width_ = 0;                  // pixels
  int height_ = 0;                 // pixels
  int bitsPerPixel_ = 0;           // 24 while a bitmap exists
  int bytesPerPixel_ = 0;          // 3 while a bitmap exists
  uint8_t* pixels_ = nullptr;      // top row; memory of the DIB section
  HDC memoryDc_ = nullptr;         // owned; exists only while bitmap_ does
  HGDIOBJ previousObject_ = nullptr;  // memoryDc_'s bitmap before ours
};

}  // namespace tw
