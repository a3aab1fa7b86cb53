#include "ui/status_font.h"

#include "ui/dpi.h"

namespace tw {

std::wstring GetIconTitleFont(LONG* height) {
  std::wstring face = L"System";
  *height = 10;
  LOGFONTW font = {};
  static_assert(sizeof(LOGFONTW) == 92, "SPI_GETICONTITLELOGFONT takes a 92-byte LOGFONTW");
  if (SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof(font), &font, 0)) {
    font.lfFaceName[LF_FACESIZE - 1] = L'\0';
    face = font.lfFaceName;
    *height = font.lfHeight;
  }
  return face;
}

int StatusFontHeight(LONG iconTitleHeight, unsigned dpi) {
  const float doubled = static_cast<float>(2 * iconTitleHeight);
  return static_cast<int>(-(doubled * static_cast<float>(dpi) / 72.0f));
}

HFONT CreateStatusFont() {
  LONG height = 0;
  const std::wstring face = GetIconTitleFont(&height);
  return CreateFontW(StatusFontHeight(height, static_cast<unsigned>(GetDpiInfo().dpi)), 0, 0, 0,
                     FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                     face.c_str());
}

}  // namespace tw
