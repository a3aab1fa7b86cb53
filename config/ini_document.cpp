#include "config/ini_document.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>


namespace tw {
namespace {

constexpr uint32_t kUtf8CodePage = 65001;
constexpr int32_t kMaxTextSize = 0x7FFFFFFF - 2;  // bytes; ParseBuffer takes int32

// White space for trimming: the C0 controls TAB..CR, space, no-break space,
// and above Latin-1 whatever the platform classifies as a space (U+3000...).
bool IsIniSpace(wchar_t c) {
  if (c >= 0x09 && c <= 0x0D) return true;
  if (c == 0x20 || c == 0xA0) return true;
  return c > 0xFF && iswspace(c);
}

// What the parse of one text may make the document keep, estimated from above
// before anything is added, so that no allocation of the parse can run out of
// memory: a real version-info file keeps a few KiB and the UI texts about ten.
// A hostile file of millions of tiny entries (up to the 30 MiB a transfer lets
// through) or a line of many MiB is refused instead; a 32-bit process could
// not hold what it would cost.
constexpr uint64_t kMaxKeptBytes = 64 * 1024 * 1024;
// Per line, the most one section or entry costs on x64: its list node, the
// heap blocks of two strings, an index node and its share of the buckets.
constexpr uint64_t kLineCost = 384;
// Per character: its copy in a name or value and in a folded index key.
constexpr uint64_t kCharCost = 2 * sizeof(wchar_t);

// [begin, end) of the decoded text; lines and names are pieces of it, and
// only what the document keeps is copied.
struct TextRange {
  const wchar_t* begin;
  const wchar_t* end;

  bool empty() const { return begin == end; }
  size_t size() const { return static_cast<size_t>(end - begin); }
  const wchar_t* find(wchar_t c) const { return std::find(begin, end, c); }
  std::wstring str() const { return std::wstring(begin, end); }
};

TextRange Trim(TextRange text) {
  while (!text.empty() && IsIniSpace(*text.begin)) ++text.begin;
  while (!text.empty() && IsIniSpace(text.end[-1])) --text.end;
  return text;
}

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

// Only A-Z are folded; every other character must match exactly.
std::wstring FoldName(const std::wstring& name) {
  std::wstring folded(name);
  for (wchar_t& c : folded) c = FoldAscii(c);
  return folded;
}

bool EqualsFolded(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

LineClass Classify(TextRange line) {
  if (line.empty()) return LineClass::Blank;
  if (line.begin[0] == L'[' && line.end[-1] == L']' && line.size() >= 2) return LineClass::SectionHeader;
  if (line.begin[0] == L';') return LineClass::Comment;
  if (line.find(L'=') == line.end) return LineClass::PlainLine;
  return LineClass::KeyValue;
}

// One pair of equal quotes (" or ') around a value of 2+ characters is removed.
TextRange Unquote(TextRange value) {
  if (value.size() >= 2) {
    const wchar_t first = value.begin[0];
    if ((first == L'"' || first == L'\'') && value.end[-1] == first) return {value.begin + 1, value.end - 1};
  }
  return value;
}

enum class Decoded { Text, Undecodable, OutOfMemory };

// The text in UTF-16, in a block of its own, up to the first U+0000 and
// without carriage returns, which a line never keeps wherever they stand.
struct DecodedText {
  std::unique_ptr<wchar_t[]> chars;  // null while empty
  size_t length = 0;                 // characters
};

// The block is as large as the input allows (a character per byte at most),
// so it is allocated without throwing: a failure fails the parse.
Decoded DecodeText(const uint8_t* bytes, int32_t length, uint32_t codePage, DecodedText* text) {
  if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    // UTF-16LE: (length - 2) / 2 whole characters after the mark. Copied
    // rather than cast, since the buffer need not be 2-byte aligned.
    text->length = static_cast<size_t>(length - 2) / 2;
    if (text->length > 0) {
      text->chars.reset(new (std::nothrow) wchar_t[text->length]);
      if (!text->chars) return Decoded::OutOfMemory;
      std::memcpy(text->chars.get(), bytes + 2, text->length * sizeof(wchar_t));
    }
  } else {
    const uint8_t* start = bytes;
    int32_t remaining = length;
    if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
      start += 3;
      remaining -= 3;
      codePage = kUtf8CodePage;
    }
    const void* zero = std::memchr(start, 0, static_cast<size_t>(remaining));
    const int byteCount = zero ? static_cast<int>(static_cast<const uint8_t*>(zero) - start) : remaining;
    // Nothing to convert is an empty text, not a decoding failure.
    if (byteCount == 0) return Decoded::Text;
    const auto* source = reinterpret_cast<const char*>(start);
    // Flags 0: malformed sequences are replaced, not rejected.
    const int needed = MultiByteToWideChar(codePage, 0, source, byteCount, nullptr, 0);
    if (needed <= 0) return Decoded::Undecodable;
    text->chars.reset(new (std::nothrow) wchar_t[static_cast<size_t>(needed)]);
    if (!text->chars) return Decoded::OutOfMemory;
    const int written = MultiByteToWideChar(codePage, 0, source, byteCount, text->chars.get(), needed);
    if (written <= 0) return Decoded::Undecodable;
    text->length = static_cast<size_t>(written);
  }
  wchar_t* const chars = text->chars.get();
  size_t kept = 0;
  for (size_t i = 0; i < text->length && chars[i] != L'\0'; ++i) {
    if (chars[i] != L'\r') chars[kept++] = chars[i];
  }
  text->length = kept;
  return Decoded::Text;
}

// Takes the next line of *rest, trimmed, into *line; false when nothing is
// left. A line feed ends a line and is not part of it, so a text that ends
// with one has no empty last line.
bool TakeLine(TextRange* rest, TextRange* line) {
  if (rest->empty()) return false;
  const wchar_t* const lineEnd = rest->find(L'\n');
  *line = Trim({rest->begin, lineEnd});
  rest->begin = lineEnd == rest->end ? lineEnd : lineEnd + 1;
  return true;
}

// The most that adding this text's lines can cost the document (bytes).
// Blank lines and comments keep nothing, so a file of a million empty lines
// costs nothing; each other line is counted whole, as if it were kept.
uint64_t KeptEstimate(const DecodedText& text) {
  uint64_t cost = 0;
  TextRange rest{text.chars.get(), text.chars.get() + text.length};
  TextRange line{};
  while (TakeLine(&rest, &line)) {
    const LineClass kind = Classify(line);
    if (kind != LineClass::Blank && kind != LineClass::Comment) cost += kLineCost + line.size() * kCharCost;
  }
  return cost;
}

// The check for texts above LargeFileLimit: their first SampleSize bytes must
// parse into at least one section.
bool PassesSampleCheck(const uint8_t* bytes) {
  IniDocument probe;
  return probe.ParseBuffer(bytes, static_cast<int32_t>(IniDocument::SampleSize)) && probe.SectionCount() >= 1;
}

}  // namespace

bool IniDocument::LoadBytes(const uint8_t* bytes, uint64_t size) {
  Clear();
  if (size == 0) return true;
  if (size > static_cast<uint64_t>(kMaxTextSize)) return false;
  if (size > LargeFileLimit && !PassesSampleCheck(bytes)) return false;
  // A text that cannot be decoded loads as an empty document; a single byte
  // is too short to hold anything. A text too large to keep fails.
  if (size >= 2 && Parse(bytes, static_cast<int32_t>(size)) == ParseOutcome::OverBudget) return false;
  return true;
}

bool IniDocument::ParseBuffer(const uint8_t* bytes, int32_t length) {
  return Parse(bytes, length) == ParseOutcome::Parsed;
}

IniDocument::ParseOutcome IniDocument::Parse(const uint8_t* bytes, int32_t length) {
  if (bytes == nullptr || length < 0) return ParseOutcome::Undecodable;
  DecodedText text;
  switch (DecodeText(bytes, length, codePage, &text)) {
    case Decoded::Text:
      break;
    case Decoded::Undecodable:
      return ParseOutcome::Undecodable;
    case Decoded::OutOfMemory:
      return ParseOutcome::OverBudget;
  }
  const uint64_t estimate = KeptEstimate(text);
  if (estimate > kMaxKeptBytes - keptEstimate_) return ParseOutcome::OverBudget;
  keptEstimate_ += estimate;

  // Every text starts outside any section, also when the document has some.
  IniSection* current = nullptr;
  TextRange rest{text.chars.get(), text.chars.get() + text.length};
  TextRange line{};
  while (TakeLine(&rest, &line)) {
    switch (Classify(line)) {
      case LineClass::Blank:
      case LineClass::Comment:
        break;
      case LineClass::SectionHeader: {
        const TextRange name = Trim({line.begin + 1, line.end - 1});
        current = name.empty() ? nullptr : AddSection(name.str());
        break;
      }
      case LineClass::KeyValue: {
        if (current == nullptr) break;
        const wchar_t* const equals = line.find(L'=');
        const TextRange key = Trim({line.begin, equals});
        if (key.empty()) break;
        IniEntry entry;
        entry.name = key.str();
        entry.value = Unquote(Trim({equals + 1, line.end})).str();
        entry.kind = static_cast<uint32_t>(LineClass::KeyValue);
        AddEntry(current, std::move(entry));
        break;
      }
      case LineClass::PlainLine: {
        if (current == nullptr) break;
        const wchar_t* const semicolon = line.find(L';');
        IniEntry entry;
        entry.name = (semicolon == line.end ? line : Trim({line.begin, semicolon})).str();
        entry.kind = static_cast<uint32_t>(LineClass::PlainLine);
        AddEntry(current, std::move(entry));
        break;
      }
    }
  }
  return ParseOutcome::Parsed;
}

void IniDocument::Clear() {
  sectionIndex_.reset();
  sections_.clear();
  keptEstimate_ = 0;
}

IniSection* IniDocument::AddSection(const std::wstring& name) {
  if (IniSection* existing = FindSectionMutable(name)) return existing;
  sections_.emplace_back();
  IniSection* section = &sections_.back();
  section->name = name;
  if (sectionIndex_) {
    (*sectionIndex_)[FoldName(name)] = section;
  } else if (sections_.size() > SectionIndexThreshold) {
    sectionIndex_ = std::make_unique<std::unordered_map<std::wstring, IniSection*>>();
    for (IniSection& s : sections_) (*sectionIndex_)[FoldName(s.name)] = &s;
  }
  return section;
}

void IniDocument::AddEntry(IniSection* section, IniEntry entry) {
  section->entries.push_back(std::move(entry));
  IniEntry* added = &section->entries.back();
  // Later entries of an equal folded name replace the mapping: the index
  // always refers to the last-added one.
  if (section->entryIndex) {
    (*section->entryIndex)[FoldName(added->name)] = added;
  } else if (section->entries.size() > EntryIndexThreshold) {
    section->entryIndex = std::make_unique<std::unordered_map<std::wstring, IniEntry*>>();
    for (IniEntry& e : section->entries) (*section->entryIndex)[FoldName(e.name)] = &e;
  }
}

IniSection* IniDocument::FindSectionMutable(const std::wstring& name) {
  if (sectionIndex_) {
    const auto found = sectionIndex_->find(FoldName(name));
    return found == sectionIndex_->end() ? nullptr : found->second;
  }
  for (IniSection& section : sections_) {
    if (EqualsFolded(section.name, name)) return &section;
  }
  return nullptr;
}

const IniSection* IniDocument::FindSection(const std::wstring& name) const {
  return const_cast<IniDocument*>(this)->FindSectionMutable(name);
}

const IniEntry* IniDocument::FindEntry(const IniSection& section, const std::wstring& name) const {
  if (section.entryIndex) {
    const auto found = section.entryIndex->find(FoldName(name));
    return found == section.entryIndex->end() ? nullptr : found->second;
  }
  for (const IniEntry& entry : section.entries) {
    if (EqualsFolded(entry.name, name)) return &entry;
  }
  return nullptr;
}

std::wstring IniDocument::GetString(const std::wstring& section, const std::wstring& key,
                                    const std::wstring& defaultValue) const {
  const IniSection* found = FindSection(section);
  if (found == nullptr) return defaultValue;
  const IniEntry* entry = FindEntry(*found, key);
  return entry == nullptr ? defaultValue : entry->value;
}

uint32_t IniDocument::GetInt(const std::wstring& section, const std::wstring& key,
                             uint32_t defaultValue) const {
  const IniSection* found = FindSection(section);
  if (found == nullptr) return defaultValue;
  const IniEntry* entry = FindEntry(*found, key);
  if (entry == nullptr) return defaultValue;
  // unsigned long is 32 bits here: a minus negates modulo 2^32 and an
  // overflow gives 4294967295, as the callers expect.
  static_assert(sizeof(unsigned long) == sizeof(uint32_t), "wcstoul yields 32 bits");
  return static_cast<uint32_t>(wcstoul(entry->value.c_str(), nullptr, 10));
}

}  // namespace tw
