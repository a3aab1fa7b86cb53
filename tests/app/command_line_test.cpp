// Start-up: the command-line switches and the UI language.
#include <gtest/gtest.h>

#include <vector>

#include "app/command_line.h"
#include "app/language_table.h"
#include "config/ui_text.h"

namespace {

struct ArgumentCase {
  std::vector<const wchar_t*> args;  // after the program path
  bool silent, automatic;
  const wchar_t* language;           // after a pick of English (0x0409)
  const wchar_t *first, *second, *third;
};

TEST(Arguments, OnlyTheFirstArgumentIsASwitchAndOnlyExactly) {
  const ArgumentCase cases[] = {
      {{}, false, false, L"English", L"", L"", L""},
      {{L"/S"}, true, false, L"English", L"/S", L"", L""},
      {{L"/S", L"/auto"}, true, false, L"English", L"/S", L"/auto", L""},
      {{L"/auto"}, false, true, L"English", L"/auto", L"", L""},
      {{L"/auto", L"/S"}, false, true, L"English", L"/auto", L"/S", L""},
      {{L"/s"}, false, false, L"English", L"/s", L"", L""},
      {{L"/AUTO"}, false, false, L"English", L"/AUTO", L"", L""},
      {{L"/jp"}, false, false, L"Japanese", L"/jp", L"", L""},
      {{L"/JP"}, false, false, L"English", L"/JP", L"", L""},
      {{L"/en"}, false, false, L"English", L"/en", L"", L""},
      {{L"x", L"/S"}, false, false, L"English", L"x", L"/S", L""},
      {{L"/S "}, false, false, L"English", L"/S ", L"", L""},
      {{L"/auto", L"a", L"b", L"c", L"d"}, false, true, L"English", L"/auto", L"a", L"b"},
      {{L"/S", L"two words", L""}, true, false, L"English", L"/S", L"two words", L""},
  };
  for (const ArgumentCase& c : cases) {
    std::vector<const wchar_t*> argv = {L"C:\\setup.exe"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    tw::AppState state;
    tw::PickUiLanguageFor(0x0409, state);
    tw::ApplyArguments(static_cast<int>(argv.size()), argv.data(), state);
    const std::wstring label = c.args.empty() ? L"(none)" : c.args[0];
    SCOPED_TRACE(testing::Message() << "first argument " << std::string(label.begin(), label.end()));
    EXPECT_EQ(state.silentMode, c.silent);
    EXPECT_EQ(state.autoMode, c.automatic);
    EXPECT_EQ(state.languageName, c.language);
    EXPECT_EQ(state.firstArgument, c.first);
    EXPECT_EQ(state.secondArgument, c.second);
    EXPECT_EQ(state.thirdArgument, c.third);
    EXPECT_EQ(state.exitCode, 0);
  }
}

TEST(Arguments, AMissingVectorGivesEmptyArguments) {
  tw::AppState state;
  tw::ApplyArguments(0, nullptr, state);
  EXPECT_TRUE(state.firstArgument.empty());
  EXPECT_FALSE(state.silentMode);
}

TEST(Language, TheFirstRowOfAnIdentifierWins) {
  struct Case {
    LANGID language;
    const wchar_t* name;
    bool korean;
  } cases[] = {
      {0x041A, L"Croatian", false}, {0x3409, L"English", false}, {0x0412, L"Korean", true},
      {0x0411, L"Japanese", false}, {0x0410, L"Italian", false}, {0x0810, L"Italian", false},
      {0x007F, L"Invariant", false}, {0x141A, L"Bosnian", false}, {0x081A, L"Serbian", false},
      {0x540A, L"Spanish", false},  {0x0804, L"SimpChinese", false}, {0x0C04, L"TradChinese", false},
      {0x0407, L"German", false},   {0x0009, L"", false},          {0x9999, L"", false},
  };
  for (const Case& c : cases) {
    tw::AppState state;
    tw::PickUiLanguageFor(c.language, state);
    EXPECT_EQ(state.languageName, c.name) << std::hex << c.language;
    EXPECT_EQ(state.isKorean, c.korean) << std::hex << c.language;
  }
}

TEST(Language, TableHasItsRowsInOrder) {
  EXPECT_EQ(tw::kLanguageTableRows, 161u);
  EXPECT_EQ(tw::LanguageTable[0].language, 0x007Fu);
  EXPECT_STREQ(tw::LanguageTable[0].name, "Invariant");
  EXPECT_EQ(tw::LanguageTable[160].language, 0x141Au);
  EXPECT_STREQ(tw::LanguageTable[160].name, "Bosnian");
  int englishRows = 0, spanishRows = 0, arabicRows = 0;
  for (const tw::LanguageRow& row : tw::LanguageTable) {
    EXPECT_LE(row.language, 0xFFFFu);
    ASSERT_NE(row.name, nullptr);
    ASSERT_NE(row.subLanguage, nullptr);
    englishRows += strcmp(row.name, "English") == 0;
    spanishRows += strcmp(row.name, "Spanish") == 0;
    arabicRows += strcmp(row.name, "Arabic") == 0;
  }
  EXPECT_EQ(englishRows, 16);
  EXPECT_EQ(spanishRows, 21);
  EXPECT_EQ(arabicRows, 16);
}

// The pick and the switches together decide the texts (GetUiText reads the
// process-wide AppState).
class LanguageTexts : public testing::Test {
 protected:
  void TearDown() override { tw::GetAppState() = tw::AppState(); }
  void Start(LANGID language, const wchar_t* firstArgument) {
    tw::AppState& state = tw::GetAppState();
    state = tw::AppState();
    tw::PickUiLanguageFor(language, state);
    const wchar_t* argv[] = {L"setup.exe", firstArgument};
    tw::ApplyArguments(firstArgument ? 2 : 1, argv, state);
  }
};

TEST_F(LanguageTexts, UnknownLanguageGetsEnglishTexts) {
  Start(0x9999, nullptr);
  EXPECT_TRUE(tw::GetAppState().languageName.empty());
  EXPECT_EQ(tw::GetUiText(L"TEXT_VERSION_CHECKING"), L"Checking version...");
  EXPECT_EQ(tw::GetUiText(L"TITLE"), L"Tarnwick Online Setup");
}

TEST_F(LanguageTexts, CroatianHasNoSectionAndGetsEnglishTexts) {
  Start(0x041A, nullptr);
  EXPECT_EQ(tw::GetUiText(L"TEXT_DOWNLOAD_COMPLETED"), L"Download completed");
}

TEST_F(LanguageTexts, KoreanSystemGetsKoreanTextsAndTitle) {
  Start(0x0412, nullptr);
  EXPECT_EQ(tw::GetUiText(L"TEXT_DOWNLOAD_COMPLETED"), L"내려받기 완료");
  EXPECT_EQ(tw::GetUiText(L"TITLE"), L"타른윅 온라인 설치");
}

TEST_F(LanguageTexts, JapaneseSwitchOnAKoreanSystemGetsJapaneseTextsAndTheEnglishTitle) {
  Start(0x0412, L"/jp");
  EXPECT_FALSE(tw::GetAppState().isKorean);
  EXPECT_EQ(tw::GetUiText(L"TEXT_DOWNLOAD_COMPLETED"), L"ダウンロード完了");
  EXPECT_EQ(tw::GetUiText(L"TITLE"), L"Tarnwick Online Setup");
}

TEST_F(LanguageTexts, EnglishSwitchOnAKoreanSystemGetsEnglishTextsAndTitle) {
  Start(0x0412, L"/en");
  EXPECT_FALSE(tw::GetAppState().isKorean);
  EXPECT_EQ(tw::GetUiText(L"TEXT_XP"), L"Windows XP support has ended.");
  EXPECT_EQ(tw::GetUiText(L"TITLE"), L"Tarnwick Online Setup");
}

}  // namespace
