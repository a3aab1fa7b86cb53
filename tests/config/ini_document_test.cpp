// The INI document: decoding, lines, names and values, lookups, loading.
#include "config/ini_document.h"
#include "config/version_info.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tw::IniDocument;

std::string Utf16(const std::wstring& text) {
  std::string bytes("\xFF\xFE", 2);
  for (wchar_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return bytes;
}

bool Parse(IniDocument* document, const std::string& bytes) {
  return document->ParseBuffer(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()));
}

// "[section]|key=value|plain~" per section, one line each.
std::wstring Dump(const IniDocument& document) {
  std::wstring out;
  for (const tw::IniSection& section : document.Sections()) {
    out += L"[" + section.name + L"]";
    for (const tw::IniEntry& entry : section.entries) out += L"|" + entry.name + (entry.kind == 2 ? L"=" : L"~") + entry.value;
    out += L"\n";
  }
  return out;
}

const std::wstring kSample = L"; comment\r\n[Main]\r\nname = \xD0C0\xB978\r\npath = C:\\a=b\r\nplain entry\r\n[Other]\r\nx=1\r\n";
const wchar_t kSampleDump[] = L"[Main]|name=\xD0C0\xB978|path=C:\\a=b|plain entry~\n[Other]|x=1\n";

TEST(IniDocument, ParsesTextIntoSectionsAndEntries) {
  const struct {
    const char* what;
    std::string bytes;
    std::wstring dump;
  } cases[] = {
      {"UTF-8", u8"; comment\r\n[Main]\r\nname = \uD0C0\uB978\r\npath = C:\\a=b\r\nplain entry\r\n[Other]\r\nx=1\r\n", kSampleDump},
      {"UTF-8 mark", u8"\uFEFF[Main]\nname = \uD0C0\uB978\npath = C:\\a=b\nplain entry\n[Other]\nx=1", kSampleDump},
      {"UTF-16LE, odd last byte", Utf16(kSample) + "A", kSampleDump},
      {"UTF-16 big-endian", std::string("\xFE\xFF\0[\0S\0]", 8), L""},
      {"empty", "", L""},
      {"mark only", "\xEF\xBB\xBF", L""},
      {"zero ends the text", std::string("[S]\nk = v\n\0x = y\n", 17), L"[S]|k=v\n"},
      {"UTF-16 zero ends the text", Utf16(std::wstring(L"[S]\nk=v\n\0x=y\n", 13)), L"[S]|k=v\n"},
      {"carriage returns dropped", "[S]\nke\ry = va\rlue\nc=1\rd=2\n\n", L"[S]|key=value|c=1d=2\n"},
      {"white space", u8"\t[ \u3000Main\u00A0 ]\x0B\n \u3000 key \t=\f value\u00A0\u3000\r\nkeep = \u0085v\u0085\n",
       L"[Main]|key=value|keep=\x0085v\x0085\n"},
      {"headers", "lost = 1\nlost plain\n[  Spaced  ]\na = 1\n[]\ngone = 2\n[spaced]\nb = 2\n[   ]\ngone = 3\n"
                  "[Empty]\n[Trailing] ; comment\n[\n[Last]\n# hash = 1\n",
       L"[Spaced]|a=1|b=2\n[Empty]|[Trailing]~|[~\n[Last]|# hash=1\n"},
      {"values", "[S]\na = b = c\n= dropped\n  =dropped too\nempty =\ndq = \"quoted value\"\nsq = 'single'\n"
                 "mixed = \"x'\nlone = \"\ninner = \" spaced \"\ntwice = \"\"x\"\"\nsemi = v ; kept\nplain ; cut\n; c = 1\n",
       L"[S]|a=b = c|empty=|dq=quoted value|sq=single|mixed=\"x'|lone=\"|inner= spaced |twice=\"x\"|semi=v ; kept|plain~\n"},
      {"names fold A-Z only", u8"[Main]\nFirst=1\n[\u00C4rger]\nk=2\n[MAIN]\nsecond=3\n[\u00E4rger]\nk=4\n",
       L"[Main]|First=1|second=3\n[\x00C4rger]|k=2\n[\x00E4rger]|k=4\n"},
  };
  for (const auto& c : cases) {
    IniDocument document;
    EXPECT_TRUE(Parse(&document, c.bytes)) << c.what;
    EXPECT_EQ(Dump(document), c.dump) << c.what;
  }
}

TEST(IniDocument, LooksUpNamesWithoutAsciiCaseAndTheLastDuplicateOnceIndexed) {
  std::string text = "[Main]\nAlpha = 1\nZed = 2\nplain\n[Thirty]\ndup = first\n";
  for (int i = 0; i < 28; ++i) text += "k" + std::to_string(i) + " = " + std::to_string(i) + "\n";
  text += "DUP = last\n[ThirtyOne]\ndup = first\n";
  for (int i = 0; i < 29; ++i) text += "k" + std::to_string(i) + " = " + std::to_string(i) + "\n";
  text += "DUP = last\n";
  IniDocument document;
  ASSERT_TRUE(Parse(&document, text));
  const wchar_t* const cases[][3] = {
      {L"main", L"ALPHA", L"1"},   {L"MAIN", L"zed", L"2"},        {L"Main", L"PLAIN", L""},
      {L" Main", L"Alpha", L"-"},  {L"Main", L"Alpha ", L"-"},     {L"Other", L"Alpha", L"-"},
      {L"thirty", L"dup", L"first"},  // 30 entries: searched in order
      {L"thirtyone", L"dup", L"last"},  // past 30: the index keeps the last one
      {L"ThirtyOne", L"K28", L"28"},
  };
  for (const auto& c : cases) EXPECT_EQ(document.GetString(c[0], c[1], L"-"), c[2]) << c[0] << "/" << c[1];
}

TEST(IniDocument, GetIntReadsLikeWcstoulBase10) {
  IniDocument document;
  ASSERT_TRUE(Parse(&document, "[N]\nplain = 500\nprefix = 12abc\nletters = abc\nminus = -2\nplus = +7\n"
                               "quoted = \" 42\"\nover = 4294967296\nhex = 0x10\nlead = 010\n"));
  const std::pair<const wchar_t*, uint32_t> cases[] = {
      {L"plain", 500},  {L"prefix", 12},         {L"letters", 0}, {L"minus", 4294967294u}, {L"plus", 7},
      {L"quoted", 42},  {L"over", 4294967295u}, {L"hex", 0},     {L"lead", 10},           {L"missing", 77},
  };
  for (const auto& c : cases) EXPECT_EQ(document.GetInt(L"N", c.first, 77), c.second) << c.first;
  EXPECT_EQ(document.GetInt(L"Missing", L"plain", 77), 77u);
}

// What the document holds after loading `bytes`; "failed:" first when the load failed.
std::wstring Load(const std::string& bytes) {
  IniDocument document;
  Parse(&document, "[Old]\nk=v\n");  // loading replaces what was there
  const bool loaded = document.LoadBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return (loaded ? L"" : L"failed:") + Dump(document);
}

// Comment lines of 100 bytes, `bytes` bytes in all.
std::string Filler(size_t bytes) {
  std::string text;
  while (text.size() + 100 <= bytes) text += std::string(99, ';') + "\n";
  if (text.size() < bytes) text += std::string(bytes - text.size() - 1, ';') + "\n";
  return text;
}

std::string Repeat(const std::string& head, const std::string& unit, size_t bytes) {
  std::string text = head;
  while (text.size() < bytes) text += unit;
  return text;
}

TEST(IniDocument, LoadsWholeTextsAndRefusesLargeOnes) {
  const std::string tail = "\n[Tail]\nk = v\n", head = "[Head]\nk = 1\n";
  const struct {
    const char* what;
    std::string bytes;
    std::wstring dump;
  } cases[] = {
      {"UTF-16", Utf16(kSample), kSampleDump},
      {"empty", "", L""},
      {"one byte", "[", L""},
      // Above 1,000,000 bytes, the first 100,000 must hold a section.
      {"1,000,000 bytes", Filler(1000000 - tail.size()) + tail, L"[Tail]|k=v\n"},
      {"one byte more", Filler(1000001 - tail.size()) + tail, L"failed:"},
      {"header in the sample", head + Filler(1000001 - head.size() - tail.size()) + tail, L"[Head]|k=1\n[Tail]|k=v\n"},
      {"header cut at 100,000", Filler(99996) + "[Cut]\n" + Filler(900000), L"failed:"},
      {"header ends at 100,000", Filler(99995) + "[Cut]\n" + Filler(900000), L"[Cut]\n"},
      // What a document may keep is bounded; lines that keep nothing cost nothing.
      {"999,996 blank lines", "[S]\n" + std::string(999996, '\n'), L"[S]\n"},
      {"30 MiB of tiny entries", Repeat("[S]\n", "k=\n", 30 << 20), L"failed:"},
      {"a value of 20 MB", Repeat("[S]\nk=", "v", 20000000), L"failed:"},
  };
  for (const auto& c : cases) EXPECT_EQ(Load(c.bytes).substr(0, 200), c.dump) << c.what;  // short on failure
}

// Only the publishing tool's text skips; what wcstoul takes to FFFFFFFF by overflow or a sign matches no file.
TEST(VersionInfo, OnlyTheSkipTextSkipsTheCrcComparison) {
  const struct { const wchar_t* text; tw::Crc32Rule rule; uint32_t value; } cases[] = {
      {L"e6eb3790", tw::Crc32Compare, 0xE6EB3790}, {L"0XE6EB3790", tw::Crc32Compare, 0xE6EB3790}, {L"", tw::Crc32Compare, 0},
      {L"FFFFFFFF", tw::Crc32Skip, 0xFFFFFFFF}, {L"0xffffFFFF", tw::Crc32Skip, 0xFFFFFFFF}, {L"FFFF", tw::Crc32Compare, 0xFFFF},
      {L"0FFFFFFFF", tw::Crc32Compare, 0xFFFFFFFF}, {L"FFFFFFFF;", tw::Crc32Compare, 0xFFFFFFFF},
      {L"100000000", tw::Crc32MatchesNone, 0}, {L"-1", tw::Crc32MatchesNone, 0}, {L" +e6eb3790", tw::Crc32MatchesNone, 0}};
  for (const auto& c : cases) {
    uint32_t value = 1;
    EXPECT_EQ(tw::Crc32FromText(c.text, &value), c.rule) << c.text;
    EXPECT_TRUE(c.rule == tw::Crc32MatchesNone || value == c.value) << c.text;
  }
}

}  // namespace
