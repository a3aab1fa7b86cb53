#include "config/ini_document.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "harness/test_env.h"
#include "support/unique_handle.h"

namespace {

using tw::IniDocument;

std::string Utf16Bytes(const std::wstring& text, bool withMark) {
  std::string bytes = withMark ? std::string("\xFF\xFE", 2) : std::string();
  for (wchar_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::string Utf8Bytes(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size,
                      nullptr, nullptr);
  return bytes;
}

bool Parse(IniDocument* document, const std::string& bytes) {
  return document->ParseBuffer(reinterpret_cast<const uint8_t*>(bytes.data()),
                               static_cast<int32_t>(bytes.size()));
}

// "section|key=value|..." for the whole document, kinds included, so that
// two documents can be compared in one expectation.
std::wstring Dump(const IniDocument& document) {
  std::wstring out;
  for (const tw::IniSection& section : document.Sections()) {
    out += L"[" + section.name + L"]";
    for (const tw::IniEntry& entry : section.entries) {
      out += L"|" + entry.name + (entry.kind == 2 ? L"=" : L"~") + entry.value;
    }
    out += L"\n";
  }
  return out;
}

std::wstring Get(const IniDocument& document, const wchar_t* section, const wchar_t* key) {
  return document.GetString(section, key, L"<default>");
}

const std::wstring kSample =
    L"; comment\r\n"
    L"[Main]\r\n"
    L"name = \xD0C0\xB978\xC705\r\n"
    L"path = C:\\temp\\a=b\r\n"
    L"plain entry\r\n"
    L"[Other]\r\n"
    L"x=1\r\n";

TEST(IniDocumentParse, EncodingsGiveTheSameDocument) {
  IniDocument plain;
  ASSERT_TRUE(Parse(&plain, Utf8Bytes(kSample)));
  EXPECT_EQ(Dump(plain),
            L"[Main]|name=\xD0C0\xB978\xC705|path=C:\\temp\\a=b|plain entry~\n[Other]|x=1\n");

  IniDocument withMark;
  ASSERT_TRUE(Parse(&withMark, "\xEF\xBB\xBF" + Utf8Bytes(kSample)));
  EXPECT_EQ(Dump(withMark), Dump(plain));

  IniDocument utf16;
  ASSERT_TRUE(Parse(&utf16, Utf16Bytes(kSample, true)));
  EXPECT_EQ(Dump(utf16), Dump(plain));

  // An odd trailing byte after UTF-16 text is not a character.
  IniDocument oddLength;
  ASSERT_TRUE(Parse(&oddLength, Utf16Bytes(kSample, true) + "A"));
  EXPECT_EQ(Dump(oddLength), Dump(plain));

  // Without a mark, UTF-16 is read as UTF-8 and ends at its first zero byte;
  // a big-endian mark is not recognised either.
  IniDocument noMark;
  Parse(&noMark, Utf16Bytes(kSample, false));
  EXPECT_EQ(noMark.SectionCount(), 0u);
  IniDocument bigEndian;
  std::string bigEndianBytes("\xFE\xFF", 2);
  for (wchar_t c : std::wstring(L"[Main]\nk=v\n")) {
    bigEndianBytes.push_back(static_cast<char>(c >> 8));
    bigEndianBytes.push_back(static_cast<char>(c & 0xFF));
  }
  Parse(&bigEndian, bigEndianBytes);
  EXPECT_EQ(bigEndian.SectionCount(), 0u);
}

TEST(IniDocumentParse, MalformedUtf8IsReplacedAndZeroEndsTheText) {
  IniDocument document;
  const char raw[] = "[S]\nbad = a\xFF\xC3z\nnext = 1\n\0after = 2\n";
  ASSERT_TRUE(Parse(&document, std::string(raw, sizeof(raw) - 1)));
  EXPECT_EQ(Get(document, L"S", L"next"), L"1");
  const std::wstring bad = Get(document, L"S", L"bad");
  EXPECT_EQ(bad.front(), L'a');
  EXPECT_EQ(bad.back(), L'z');
  EXPECT_NE(bad.find(L'\xFFFD'), std::wstring::npos) << "replacement character expected";
  EXPECT_EQ(Get(document, L"S", L"after"), L"<default>");

  // In UTF-16 a zero character ends the text as well.
  IniDocument utf16;
  const wchar_t raw16[] = L"[S]\nk=v\n\0x=y\n";
  ASSERT_TRUE(
      Parse(&utf16, Utf16Bytes(std::wstring(raw16, sizeof(raw16) / sizeof(wchar_t) - 1), true)));
  EXPECT_EQ(Get(utf16, L"S", L"k"), L"v");
  EXPECT_EQ(Get(utf16, L"S", L"x"), L"<default>");
}

TEST(IniDocumentParse, EmptyAndUndecodableInput) {
  IniDocument document;
  EXPECT_TRUE(Parse(&document, ""));
  EXPECT_TRUE(Parse(&document, "\xEF\xBB\xBF"));
  EXPECT_TRUE(Parse(&document, std::string("\xFF\xFE", 2)));
  EXPECT_EQ(document.SectionCount(), 0u);
  EXPECT_FALSE(document.ParseBuffer(nullptr, 5));
  EXPECT_FALSE(document.ParseBuffer(reinterpret_cast<const uint8_t*>("[S]"), -1));
  // A code page the system does not know cannot decode anything.
  document.codePage = 12345;
  EXPECT_FALSE(Parse(&document, "[S]\nk=v\n"));
  EXPECT_EQ(document.SectionCount(), 0u);
  // ...unless the UTF-8 mark says otherwise.
  EXPECT_TRUE(Parse(&document, "\xEF\xBB\xBF[S]\nk=v\n"));
  EXPECT_EQ(Get(document, L"S", L"k"), L"v");
}

TEST(IniDocumentParse, LineEndsAndCarriageReturns) {
  IniDocument crlf;
  IniDocument lf;
  ASSERT_TRUE(Parse(&crlf, "[S]\r\na=1\r\n\r\nb=2\r\n"));
  ASSERT_TRUE(Parse(&lf, "[S]\na=1\n\nb=2"));
  EXPECT_EQ(Dump(crlf), L"[S]|a=1|b=2\n");
  EXPECT_EQ(Dump(lf), Dump(crlf));

  IniDocument inner;
  ASSERT_TRUE(Parse(&inner, "[S]\nke\ry = va\rlue\nc=1\rd=2\n"));
  EXPECT_EQ(Dump(inner), L"[S]|key=value|c=1d=2\n");
}

TEST(IniDocumentParse, TrimsTheWhiteSpaceSet) {
  IniDocument document;
  ASSERT_TRUE(Parse(&document, Utf8Bytes(L"\t[ \x3000Main\xA0 ]\x0B\n"
                                         L" \x3000 key \t=\f value\xA0\x3000\r\n"
                                         L"keep = \x0085v\x0085\n")));
  EXPECT_EQ(Dump(document), L"[Main]|key=value|keep=\x0085v\x0085\n");
}

TEST(IniDocumentParse, HeadersAndEntriesOutsideSections) {
  IniDocument document;
  ASSERT_TRUE(Parse(&document,
                    "lost = 1\n"
                    "lost plain\n"
                    "[  Spaced Name  ]\n"
                    "a = 1\n"
                    "[]\n"
                    "gone = 2\n"
                    "[Spaced Name]\n"
                    "b = 2\n"
                    "[   ]\n"
                    "gone = 3\n"
                    "[Empty]\n"
                    "[Trailing] ; comment\n"
                    "[\n"
                    "[Last]\n"
                    "# hash = 1\n"));
  EXPECT_EQ(Dump(document),
            L"[Spaced Name]|a=1|b=2\n"
            L"[Empty]|[Trailing]~|[~\n"
            L"[Last]|# hash=1\n");
  const tw::IniSection* empty = document.FindSection(L"Empty");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(document.FindEntry(*empty, L"a"), nullptr);
  EXPECT_EQ(Get(document, L"Empty", L"gone"), L"<default>");
  // Lookup arguments are used as passed: not trimmed.
  EXPECT_EQ(Get(document, L" Spaced Name", L"a"), L"<default>");
  EXPECT_EQ(Get(document, L"Spaced Name", L"a "), L"<default>");
}

TEST(IniDocumentParse, KeysValuesQuotesAndSemicolons) {
  IniDocument document;
  ASSERT_TRUE(Parse(&document,
                    "[S]\n"
                    "a = b = c\n"
                    "= dropped\n"
                    "  =dropped too\n"
                    "empty =\n"
                    "dq = \"quoted value\"\n"
                    "sq = 'single'\n"
                    "mixed = \"x'\n"
                    "lone = \"\n"
                    "inner = \" spaced \"\n"
                    "twice = \"\"x\"\"\n"
                    "semi = v ; not a comment\n"
                    "plain line ; cut here\n"
                    "; comment = 1\n"));
  EXPECT_EQ(Dump(document),
            L"[S]|a=b = c|empty=|dq=quoted value|sq=single|mixed=\"x'|lone=\"|inner= spaced "
            L"|twice=\"x\"|semi=v ; not a comment|plain line~\n");
  EXPECT_EQ(Get(document, L"S", L"empty"), L"");
  EXPECT_EQ(Get(document, L"S", L"plain line"), L"");
  EXPECT_EQ(Get(document, L"S", L"plain line ; cut here"), L"<default>");
}

TEST(IniDocumentParse, NamesMatchByAsciiCaseOnly) {
  IniDocument document;
  ASSERT_TRUE(Parse(
      &document, Utf8Bytes(L"[Main]\nFirst=1\n[\x00C4rger]\n\x00E9t\x00E9=2\n[MAIN]\nsecond=2\n")));
  ASSERT_EQ(document.SectionCount(), 2u);
  EXPECT_EQ(document.Sections().front().name, L"Main");
  EXPECT_EQ(Get(document, L"main", L"FIRST"), L"1");
  EXPECT_EQ(Get(document, L"mAiN", L"Second"), L"2");
  EXPECT_EQ(Get(document, L"\x00C4rger", L"\x00E9t\x00E9"), L"2");
  EXPECT_EQ(Get(document, L"\x00E4rger", L"\x00E9t\x00E9"), L"<default>");
  EXPECT_EQ(Get(document, L"\x00C4RGER", L"\x00C9T\x00C9"), L"<default>");
}

TEST(IniDocumentParse, LaterTextsMergeAndStartOutsideSections) {
  IniDocument document;
  ASSERT_TRUE(Parse(&document, "[A]\nk=1\n"));
  ASSERT_TRUE(Parse(&document, "orphan=1\n[a]\nk=2\n[B]\nm=3\n"));
  EXPECT_EQ(Dump(document), L"[A]|k=1|k=2\n[B]|m=3\n");
  EXPECT_EQ(Get(document, L"A", L"orphan"), L"<default>");
  document.Clear();
  EXPECT_EQ(document.SectionCount(), 0u);
  EXPECT_EQ(Get(document, L"A", L"k"), L"<default>");
}

std::string SectionWithEntries(int count, const char* name) {
  std::string text = std::string("[") + name + "]\n";
  text += "dup = first\n";
  for (int i = 1; i < count - 1; ++i)
    text += "key" + std::to_string(i) + " = " + std::to_string(i) + "\n";
  text += "DUP = last\n";
  return text;
}

TEST(IniDocumentIndex, DuplicateKeysFirstWithoutIndexLastWithIt) {
  IniDocument document;
  ASSERT_TRUE(
      Parse(&document, SectionWithEntries(30, "Thirty") + SectionWithEntries(31, "ThirtyOne")));
  EXPECT_EQ(Get(document, L"Thirty", L"dup"), L"first");
  EXPECT_EQ(Get(document, L"ThirtyOne", L"dup"), L"last");
  EXPECT_EQ(Get(document, L"thirtyone", L"KEY29"), L"29");
  // The index keeps up with entries added after it was built.
  ASSERT_TRUE(
      Parse(&document, "[THIRTYONE]\nlate = 1\ndup = later still\n[thirty]\ndup = second\n"));
  EXPECT_EQ(Get(document, L"ThirtyOne", L"Late"), L"1");
  EXPECT_EQ(Get(document, L"ThirtyOne", L"dup"), L"later still");
  // 32 entries now in "Thirty": indexed, so the last "dup" wins.
  EXPECT_EQ(Get(document, L"Thirty", L"dup"), L"second");
}

TEST(IniDocumentIndex, PlainLinesCountAndAreIndexed) {
  std::string text = "[P]\nk = value\n";
  for (int i = 0; i < 29; ++i) text += "plain" + std::to_string(i) + "\n";
  text += "k\n";  // the 31st entry, a plain line with the same name
  IniDocument document;
  ASSERT_TRUE(Parse(&document, text));
  EXPECT_EQ(Get(document, L"P", L"k"), L"");
  EXPECT_EQ(Get(document, L"P", L"PLAIN7"), L"");
  EXPECT_EQ(Get(document, L"P", L"plain99"), L"<default>");
}

TEST(IniDocumentIndex, SectionIndexPastTenSections) {
  IniDocument document;
  std::string text;
  for (int i = 0; i < 10; ++i)
    text += "[Section" + std::to_string(i) + "]\nk = " + std::to_string(i) + "\n";
  ASSERT_TRUE(Parse(&document, text));
  EXPECT_FALSE(document.HasSectionIndex());
  ASSERT_TRUE(Parse(&document,
                    Utf8Bytes(L"[section3]\nm = reopened\n[Eleventh]\nk = 11\n[\x00C4]\nk = a\n")));
  EXPECT_TRUE(document.HasSectionIndex());
  EXPECT_EQ(document.SectionCount(), 12u);
  EXPECT_EQ(Get(document, L"SECTION3", L"m"), L"reopened");
  EXPECT_EQ(Get(document, L"eleventh", L"k"), L"11");
  EXPECT_EQ(Get(document, L"section0", L"k"), L"0");
  EXPECT_EQ(Get(document, L"\x00C4", L"k"), L"a");
  EXPECT_EQ(Get(document, L"\x00E4", L"k"), L"<default>");
  EXPECT_EQ(document.FindSection(L"section3")->name, L"Section3");
}

TEST(IniDocumentGetInt, ReadsLikeWcstoulBase10) {
  IniDocument document;
  ASSERT_TRUE(Parse(
      &document,
      "[N]\nplain = 500\nprefix = 12abc\nletters = abc\nempty =\nminus = -1\nminus2 = -2\n"
      "plus = +7\nspaced = \" 42\"\nmax = 4294967295\nover = 4294967296\nhuge = 99999999999999\n"
      "hex = 0x10\n"));
  struct Case {
    const wchar_t* key;
    uint32_t value;
  };
  const Case cases[] = {
      {L"plain", 500},         {L"prefix", 12},          {L"letters", 0},        {L"empty", 0},
      {L"minus", 4294967295u}, {L"minus2", 4294967294u}, {L"plus", 7},           {L"spaced", 42},
      {L"max", 4294967295u},   {L"over", 4294967295u},   {L"huge", 4294967295u}, {L"hex", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(document.GetInt(L"N", c.key, 77), c.value) << c.key;
  EXPECT_EQ(document.GetInt(L"N", L"missing", 77), 77u);
  EXPECT_EQ(document.GetInt(L"Missing", L"plain", 77), 77u);
}

class IniDocumentFile : public ::testing::Test {
 protected:
  std::wstring Write(const wchar_t* name, const std::string& bytes) {
    const std::wstring path = folder_ + name;
    EXPECT_TRUE(twtest::WriteWholeFile(path, bytes));
    return path;
  }
  // The document must have closed the file: an exclusive open succeeds.
  static bool IsClosed(const std::wstring& path) {
    tw::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.IsValid();
  }
  // Exactly `bytes` bytes of lines (of 100 bytes, the last one shorter) that
  // hold no section header; ends with a line feed.
  static std::string Filler(size_t bytes) {
    std::string line(99, 'f');
    line += '\n';
    std::string text;
    while (text.size() + line.size() <= bytes) text += line;
    if (text.size() < bytes) {
      text.append(bytes - text.size() - 1, 'g');
      text += '\n';
    }
    return text;
  }

  std::wstring folder_ = twtest::MakeScratchFolder(L"ini");
};

TEST_F(IniDocumentFile, SmallFiles) {
  IniDocument document;
  ASSERT_TRUE(document.LoadFile(Write(L"a.ini", "[S]\nk=v\n")));
  EXPECT_EQ(Get(document, L"S", L"k"), L"v");
  // Loading replaces: an empty, a 1-byte and a mark-only file leave nothing.
  const std::wstring empty = Write(L"empty.ini", "");
  EXPECT_TRUE(document.LoadFile(empty));
  EXPECT_EQ(document.SectionCount(), 0u);
  EXPECT_TRUE(IsClosed(empty));
  ASSERT_TRUE(document.LoadFile(Write(L"a.ini", "[S]\nk=v\n")));
  EXPECT_TRUE(document.LoadFile(Write(L"one.ini", "[")));
  EXPECT_EQ(document.SectionCount(), 0u);
  EXPECT_TRUE(document.LoadFile(Write(L"mark.ini", "\xEF\xBB\xBF")));
  EXPECT_EQ(document.SectionCount(), 0u);
  EXPECT_TRUE(document.LoadFile(Write(L"mark16.ini", std::string("\xFF\xFE", 2))));
  EXPECT_EQ(document.SectionCount(), 0u);
  const std::wstring utf16 = Write(L"utf16.ini", Utf16Bytes(kSample, true));
  ASSERT_TRUE(document.LoadFile(utf16));
  EXPECT_EQ(Get(document, L"Main", L"name"), L"\xD0C0\xB978\xC705");
  EXPECT_TRUE(IsClosed(utf16));
}

TEST_F(IniDocumentFile, UnreadableFilesFailAndLeaveTheDocumentEmpty) {
  IniDocument document;
  ASSERT_TRUE(document.LoadFile(Write(L"a.ini", "[S]\nk=v\n")));
  EXPECT_FALSE(document.LoadFile(folder_ + L"missing.ini"));
  EXPECT_EQ(document.SectionCount(), 0u);

  ASSERT_TRUE(document.LoadFile(Write(L"a.ini", "[S]\nk=v\n")));
  const std::wstring locked = Write(L"locked.ini", "[S]\nk=v\n");
  tw::UniqueFile writer(CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer.IsValid());
  EXPECT_FALSE(document.LoadFile(locked));
  EXPECT_EQ(document.SectionCount(), 0u);
  EXPECT_FALSE(document.LoadFile(folder_));  // a folder is not a file
}

TEST_F(IniDocumentFile, LargeFilesNeedASectionInTheirFirst100000Bytes) {
  IniDocument document;
  // Exactly 1,000,000 bytes: no sample check, the header near the end counts.
  const std::string tail = "\n[Tail]\nk = v\n";
  const std::wstring limit = Write(L"limit.ini", Filler(1000000 - tail.size()) + tail);
  ASSERT_TRUE(document.LoadFile(limit));
  EXPECT_EQ(Get(document, L"Tail", L"k"), L"v");
  EXPECT_TRUE(IsClosed(limit));

  // One byte more: the first 100,000 bytes hold no header, so the load fails.
  const std::wstring over = Write(L"over.ini", Filler(1000001 - tail.size()) + tail);
  EXPECT_FALSE(document.LoadFile(over));
  EXPECT_EQ(document.SectionCount(), 0u);
  EXPECT_TRUE(IsClosed(over));

  // A header inside the sample passes; then the whole file is read from its start.
  const std::string head = "[Head]\nfirst = 1\n";
  const std::wstring good =
      Write(L"good.ini", head + Filler(1000001 - head.size() - tail.size()) + tail);
  ASSERT_TRUE(document.LoadFile(good));
  EXPECT_EQ(Get(document, L"Head", L"first"), L"1");
  EXPECT_EQ(Get(document, L"Tail", L"k"), L"v");
  EXPECT_TRUE(IsClosed(good));

  // A header whose closing bracket lies just past byte 100,000 is cut in the sample.
  const std::string cut = Filler(100000 - 4) + "[Cut]\n";
  EXPECT_FALSE(document.LoadFile(Write(L"cut.ini", cut + Filler(1000001 - cut.size()))));
  const std::string whole = Filler(100000 - 5) + "[Cut]\n";
  EXPECT_TRUE(document.LoadFile(Write(L"whole.ini", whole + Filler(1000001 - whole.size()))));
  EXPECT_NE(document.FindSection(L"Cut"), nullptr);
}

}  // namespace
