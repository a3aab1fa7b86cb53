#include "config/ui_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/app_state.h"

namespace {

// Sets the language for one test and puts the start-up values back after it.
class UiTextTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = tw::GetAppState(); }
  void TearDown() override { tw::GetAppState() = saved_; }
  static void UseLanguage(const wchar_t* name, bool isKorean) {
    tw::GetAppState().languageName = name;
    tw::GetAppState().isKorean = isKorean;
  }

 private:
  tw::AppState saved_;
};

TEST(UiTextIni, EmbeddedBytes) {
  ASSERT_EQ(tw::kUiTextIniSize, 1647u);
  const char* text = reinterpret_cast<const char*>(tw::kUiTextIni);
  EXPECT_EQ(std::string(text, 10), "[English]\n");  // no byte-order mark
  EXPECT_EQ(std::string(text + 1647 - 2, 2), "\n\n");
  EXPECT_EQ(std::string(text, 1647).find('\r'), std::string::npos);
  EXPECT_EQ(std::string(text, 1647).find('\0'), std::string::npos);

  const tw::IniDocument& document = tw::GetUiTextIni();
  ASSERT_EQ(document.SectionCount(), 4u);
  const wchar_t* const names[] = {L"English", L"Italian", L"Japanese", L"Korean"};
  int i = 0;
  for (const tw::IniSection& section : document.Sections()) {
    EXPECT_EQ(section.name, names[i++]);
    EXPECT_EQ(section.entries.size(), 6u) << section.name.size();
  }
  EXPECT_EQ(&tw::GetUiTextIni(), &document);
}

TEST_F(UiTextTest, EveryTextInEveryLanguage) {
  struct Case {
    const wchar_t* language;
    const wchar_t* key;
    const wchar_t* text;
  };
  const Case cases[] = {
      {L"English", L"TEXT_VERSION_CHECK_FAILED",
       L"Version check failed. Please download the offline setup file."},
      {L"Italian", L"TEXT_VERSION_CHECK_FAILED",
       L"Verifica della versione non riuscita. Si prega di scaricare il file di installazione "
       L"offline."},
      {L"Japanese", L"TEXT_VERSION_CHECK_FAILED",
       L"バージョン チェックに失敗しました。新しいセットアップ "
       L"ファイルをダウンロードして、もう一度お試しください。"},
      {L"Korean", L"TEXT_VERSION_CHECK_FAILED",
       L"버전 체크 실패. 홈페이지에서 오프라인 설치파일을 다운로드 받으세요."},
      {L"English", L"TEXT_VERSION_CHECKING", L"Checking version..."},
      {L"Italian", L"TEXT_VERSION_CHECKING", L"Controllo versione in corso..."},
      {L"Japanese", L"TEXT_VERSION_CHECKING", L"バージョンを確認しています..."},
      {L"Korean", L"TEXT_VERSION_CHECKING", L"버전 체크..."},
      {L"English", L"TEXT_DOWNLOAD_FAILED",
       L"Download failed. Please download the offline setup file."},
      {L"Italian", L"TEXT_DOWNLOAD_FAILED",
       L"Download non riuscito. Si prega di scaricare il file di installazione offline."},
      {L"Japanese", L"TEXT_DOWNLOAD_FAILED", L"ダウンロード失敗"},
      {L"Korean", L"TEXT_DOWNLOAD_FAILED",
       L"내려받기 실패. 홈페이지에서 오프라인 설치파일을 다운로드 받으세요."},
      {L"English", L"TEXT_DOWNLOAD_COMPLETED", L"Download completed"},
      {L"Italian", L"TEXT_DOWNLOAD_COMPLETED", L"Download completato"},
      {L"Japanese", L"TEXT_DOWNLOAD_COMPLETED", L"ダウンロード完了"},
      {L"Korean", L"TEXT_DOWNLOAD_COMPLETED", L"내려받기 완료"},
      {L"English", L"TEXT_HOMEPAGE", L"[Open Webpage]"},
      {L"Italian", L"TEXT_HOMEPAGE", L"[Apri pagina web]"},
      {L"Japanese", L"TEXT_HOMEPAGE", L"[Webページを開く]"},
      {L"Korean", L"TEXT_HOMEPAGE", L"[홈페이지]"},
      {L"English", L"TEXT_XP", L"Windows XP support has ended."},
      {L"Italian", L"TEXT_XP", L"Il supporto per Windows XP è terminato"},
      {L"Japanese", L"TEXT_XP", L"Windows XP のサポートは終了しました"},
      {L"Korean", L"TEXT_XP", L"Windows XP는 지원하지 않습니다."},
  };
  for (const Case& c : cases) {
    UseLanguage(c.language, false);
    EXPECT_EQ(tw::GetUiText(c.key), c.text) << c.key;
  }
}

TEST_F(UiTextTest, FallsBackToEnglishThenToTheKey) {
  for (const wchar_t* language : {L"German", L"", L"english", L"ENGLISH", L"Korean "}) {
    UseLanguage(language, false);
    EXPECT_EQ(tw::GetUiText(L"TEXT_DOWNLOAD_COMPLETED"), L"Download completed");
    EXPECT_EQ(tw::GetUiText(L"TEXT_NO_SUCH_KEY"), L"TEXT_NO_SUCH_KEY");
  }
  UseLanguage(L"korean", true);
  EXPECT_EQ(tw::GetUiText(L"TEXT_DOWNLOAD_COMPLETED"), L"\xB0B4\xB824\xBC1B\xAE30 \xC644\xB8CC");
  EXPECT_EQ(tw::GetUiText(L"text_homepage"), L"[\xD648\xD398\xC774\xC9C0]");
  EXPECT_EQ(tw::GetUiText(L"TEXT_NO_SUCH_KEY"), L"TEXT_NO_SUCH_KEY");
  EXPECT_EQ(tw::GetUiText(L""), L"");
}

TEST_F(UiTextTest, TitleDependsOnlyOnTheKoreanFlag) {
  for (const wchar_t* language : {L"English", L"Japanese", L"Italian", L"Korean", L""}) {
    UseLanguage(language, false);
    EXPECT_EQ(tw::GetUiText(L"TITLE"), L"Tarnwick Online Setup");
    UseLanguage(language, true);
    EXPECT_EQ(tw::GetUiText(L"TITLE"), L"\xD0C0\xB978\xC705 \xC628\xB77C\xC778 \xC124\xCE58");
  }
  // Only the exact key is the title; other spellings are looked up like any key.
  UseLanguage(L"Korean", true);
  EXPECT_EQ(tw::GetUiText(L"title"), L"title");
  EXPECT_EQ(tw::GetUiText(L"Title"), L"Title");
}

}  // namespace
