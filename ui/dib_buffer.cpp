#include "ui/dib_buffer.h"

#include <cstdint>
#include <cstring>

#include "diag/debug_log.h"

namespace tw {
namespace {

constexpr int kMaxSide = 1 << 20;  // pixels; keeps StrideFor within int

}  // namespace

bool DibBuffer::Create(int width, int height) {
  if (bitmap_ != nullptr || width <= 0 || height <= 0) return false;
  // Client sizes are small; anything whose image would not fit in 31 bits is
  // refused like a failed allocation.
  if (width > kMaxSide || height > kMaxSide ||
      static_cast<int64_t>(StrideFor(width)) * height > INT32_MAX) {
    SendDebugLogFixed(L"@@rMemoy 부족??? - err:%u", static_cast<unsigned>(ERROR_NOT_ENOUGH_MEMORY));
    return false;
  }
  const int stride = StrideFor(width);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = static_cast<DWORD>(stride) * static_cast<DWORD>(height);
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) {
    const DWORD error = GetLastError();
    if (bitmap != nullptr) DeleteObject(bitmap);
    SendDebugLogFixed(L"@@rMemoy 부족??? - err:%u", error);
    return false;
  }
  bitmap_ = bitmap;
  stride_ = stride;
  width_ = width;
  height_ = height;
  bitsPerPixel_ = 24;
  bytesPerPixel_ = 3;
  pixels_ = static_cast<uint8_t*>(bits);
  return FillWhite();
}

void DibBuffer::Release() {
  if (memoryDc_ != nullptr) {
    SelectObject(memoryDc_, previousObject_);
    DeleteDC(memoryDc_);
  }
  if (bitmap_ != nullptr) DeleteObject(bitmap_);
  bitmap_ = nullptr;
  stride_ = width_ = height_ = bitsPerPixel_ = bytesPerPixel_ = 0;
  pixels_ = nullptr;
  memoryDc_ = nullptr;
  previousObject_ = nullptr;
}

bool DibBuffer::FillWhite() {
  if (pixels_ == nullptr) return false;
  // GDI may still be drawing into the section.
  GdiFlush();
  std::memset(pixels_, 255, static_cast<size_t>(width_) * bytesPerPixel_);
  for (int row = 1; row < height_; ++row) {
    std::memcpy(pixels_ + static_cast<size_t>(row) * stride_, pixels_, stride_);
  }
  return true;
}

HDC DibBuffer::DrawingDc() {
  if (bitmap_ == nullptr) return nullptr;
  if (memoryDc_ == nullptr) {
    const HDC dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr) return nullptr;
    previousObject_ = SelectObject(dc, bitmap_);
    memoryDc_ = dc;
  }
  return memoryDc_;
}

bool DibBuffer::CopyTo(HDC dc) {
  if (bitmap_ == nullptr) return false;
  if (memoryDc_ != nullptr) {
    return BitBlt(dc, 0, 0, width_, height_, memoryDc_, 0, 0, SRCCOPY) != FALSE;
  }
  // No cached DC yet: a temporary one, deleted at once.
  const HDC temporary = CreateCompatibleDC(nullptr);
  if (temporary == nullptr) return false;
  const HGDIOBJ previous = SelectObject(temporary, bitmap_);
  const bool copied = BitBlt(dc, 0, 0, width_, height_, temporary, 0, 0, SRCCOPY) != FALSE;
  SelectObject(temporary, previous);
  DeleteDC(temporary);
  return copied;
}

}  // namespace tw
