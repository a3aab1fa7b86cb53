#include "config/ui_text.h"

#include "app/app_state.h"

namespace tw {

// UTF-8 without a byte-order mark, LF line ends: four sections of six texts,
// each followed by an empty line. The array holds one extra zero byte, the
// literal's terminator, which is not part of the text.
const uint8_t kUiTextIni[] =
    u8"[English]\n"
    u8"TEXT_VERSION_CHECK_FAILED = Version check failed. Please download the offline setup file.\n"
    u8"TEXT_VERSION_CHECKING = Checking version...\n"
    u8"TEXT_DOWNLOAD_FAILED = Download failed. Please download the offline setup file.\n"
    u8"TEXT_DOWNLOAD_COMPLETED = Download completed\n"
    u8"TEXT_HOMEPAGE = [Open Webpage]\n"
    u8"TEXT_XP = Windows XP support has ended.\n"
    u8"\n"
    u8"[Italian]\n"
    u8"TEXT_VERSION_CHECK_FAILED = Verifica della versione non riuscita. Si prega di scaricare il file di installazione offline.\n"
    u8"TEXT_VERSION_CHECKING = Controllo versione in corso...\n"
    u8"TEXT_DOWNLOAD_FAILED = Download non riuscito. Si prega di scaricare il file di installazione offline.\n"
    u8"TEXT_DOWNLOAD_COMPLETED = Download completato\n"
    u8"TEXT_HOMEPAGE = [Apri pagina web]\n"
    u8"TEXT_XP = Il supporto per Windows XP è terminato\n"
    u8"\n"
    u8"[Japanese]\n"
    u8"TEXT_VERSION_CHECK_FAILED = バージョン チェックに失敗しました。新しいセットアップ ファイルをダウンロードして、もう一度お試しください。\n"
    u8"TEXT_VERSION_CHECKING = バージョンを確認しています...\n"
    u8"TEXT_DOWNLOAD_FAILED = ダウンロード失敗\n"
    u8"TEXT_DOWNLOAD_COMPLETED = ダウンロード完了\n"
    u8"TEXT_HOMEPAGE = [Webページを開く]\n"
    u8"TEXT_XP = Windows XP のサポートは終了しました\n"
    u8"\n"
    u8"[Korean]\n"
    u8"TEXT_VERSION_CHECK_FAILED = 버전 체크 실패. 홈페이지에서 오프라인 설치파일을 다운로드 받으세요.\n"
    u8"TEXT_VERSION_CHECKING = 버전 체크...\n"
    u8"TEXT_DOWNLOAD_FAILED = 내려받기 실패. 홈페이지에서 오프라인 설치파일을 다운로드 받으세요.\n"
    u8"TEXT_DOWNLOAD_COMPLETED = 내려받기 완료\n"
    u8"TEXT_HOMEPAGE = [홈페이지]\n"
    u8"TEXT_XP = Windows XP는 지원하지 않습니다.\n"
    u8"\n";
const size_t kUiTextIniSize = sizeof(kUiTextIni) - 1;
static_assert(sizeof(kUiTextIni) - 1 == 1647, "the embedded UI-text INI is 1647 bytes");

namespace {

constexpr wchar_t kTitleKorean[] = L"\xD0C0\xB978\xC705 \xC628\xB77C\xC778 \xC124\xCE58";
constexpr wchar_t kTitleEnglish[] = L"Tarnwick Online Setup";

}  // namespace

IniDocument& GetUiTextIni() {
  // Created on first use, destroyed at process exit; parsed exactly once.
  static IniDocument document;
  static bool needsParse = true;
  if (needsParse) {
    document.codePage = 65001;
    // A decoding failure leaves the document empty: every text is then its key.
    document.ParseBuffer(kUiTextIni, static_cast<int32_t>(kUiTextIniSize));
    needsParse = false;
  }
  return document;
}

std::wstring GetUiText(const std::wstring& key) {
  const AppState& state = GetAppState();
  if (key == L"TITLE") return state.isKorean ? kTitleKorean : kTitleEnglish;
  const IniDocument& document = GetUiTextIni();
  std::wstring text = document.GetString(state.languageName, key, std::wstring());
  // An empty text counts as missing: English first, then the key itself.
  if (text.empty() && state.languageName != L"English") {
    text = document.GetString(L"English", key, std::wstring());
  }
  if (text.empty()) text = key;
  return text;
}

}  // namespace tw
