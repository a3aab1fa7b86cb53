#include "config/ini_document.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>

#include "support/unique_handle.h"

namespace tw {
namespace {

constexpr uint32_t kUtf8CodePage = 65001;
constexpr int32_t kMaxFileSize =
    0x7FFFFFFF - 2;  // bytes; the buffer adds 2 and ParseBuffer takes int32

// White space for trimming: the C0 controls TAB..CR, space, no-break space,
// and above Latin-1 whatever the platform classifies as a space (U+3000...).
bool IsIniSpace(wchar_t c) {
  if (c >= 0x09 && c <= 0x0D) return true;
  if (c == 0x20 || c == 0xA0) return true;
  return c > 0xFF && iswspace(c);
}

std::wstring Trim(const std::wstring& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsIniSpace(text[begin])) ++begin;
  while (end > begin && IsIniSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
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

// Takes the next line from text at *pos: CR is dropped wherever it stands, LF
// ends the line and is consumed. False when the text is exhausted and nothing
// was collected, so a final LF leaves no empty last line.
bool ReadLine(const std::wstring& text, size_t* pos, std::wstring* line) {
  line->clear();
  size_t i = *pos;
  bool sawLineFeed = false;
  while (i < text.size()) {
    const wchar_t c = text[i++];
    if (c == L'\n') {
      sawLineFeed = true;
      break;
    }
    if (c != L'\r') line->push_back(c);
  }
  *pos = i;
  return sawLineFeed || !line->empty();
}

LineClass Classify(const std::wstring& line) {
  if (line.empty()) return LineClass::Blank;
  if (line.front() == L'[' && line.back() == L']' && line.size() >= 2)
    return LineClass::SectionHeader;
  if (line.front() == L';') return LineClass::Comment;
  if (line.find(L'=') == std::wstring::npos) return LineClass::PlainLine;
  return LineClass::KeyValue;
}

// One pair of equal quotes (" or ') around a value of 2+ characters is removed.
std::wstring Unquote(const std::wstring& value) {
  if (value.size() >= 2) {
    const wchar_t first = value.front();
    if ((first == L'"' || first == L'\'') && value.back() == first) {
      return value.substr(1, value.size() - 2);
    }
  }
  return value;
}

// Decodes the bytes into UTF-16 text, ending at the first U+0000. False when
// the multibyte conversion fails.
bool DecodeText(const uint8_t* bytes, int32_t length, uint32_t codePage, std::wstring* text) {
  text->clear();
  if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    // UTF-16LE: (length - 2) / 2 whole characters after the mark. Copied
    // rather than cast, since the buffer need not be 2-byte aligned.
    const size_t count = static_cast<size_t>(length - 2) / 2;
    text->resize(count);
    if (count > 0) std::memcpy(&(*text)[0], bytes + 2, count * sizeof(wchar_t));
    const size_t zero = text->find(L'\0');
    if (zero != std::wstring::npos) text->resize(zero);
    return true;
  }
  const uint8_t* start = bytes;
  int32_t remaining = length;
  if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    start += 3;
    remaining -= 3;
    codePage = kUtf8CodePage;
  }
  const void* zero = std::memchr(start, 0, static_cast<size_t>(remaining));
  const int byteCount =
      zero ? static_cast<int>(static_cast<const uint8_t*>(zero) - start) : remaining;
  // Nothing to convert is an empty text, not a decoding failure.
  if (byteCount == 0) return true;
  const auto* source = reinterpret_cast<const char*>(start);
  // Flags 0: malformed sequences are replaced, not rejected.
  const int needed = MultiByteToWideChar(codePage, 0, source, byteCount, nullptr, 0);
  if (needed <= 0) return false;
  text->resize(static_cast<size_t>(needed));
  const int written = MultiByteToWideChar(codePage, 0, source, byteCount, &(*text)[0], needed);
  if (written <= 0) {
    text->clear();
    return false;
  }
  text->resize(static_cast<size_t>(written));
  return true;
}

// The check for files above LargeFileLimit: their first SampleSize bytes must
// read in full and parse into at least one section. The file position is put
// back to the start whatever the outcome.
bool PassesSampleCheck(HANDLE file) {
  bool passed = false;
  std::unique_ptr<uint8_t[]> sample(new (std::nothrow) uint8_t[IniDocument::SampleSize]);
  if (sample) {
    DWORD got = 0;
    if (ReadFile(file, sample.get(), IniDocument::SampleSize, &got, nullptr) &&
        got == IniDocument::SampleSize) {
      IniDocument probe;
      passed = probe.ParseBuffer(sample.get(), static_cast<int32_t>(IniDocument::SampleSize)) &&
               probe.SectionCount() >= 1;
    }
  }
  // Back to the start for the one read of the whole file; should this fail,
  // that read comes up short and the load fails there.
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  return passed;
}

}  // namespace

bool IniDocument::LoadFile(const std::wstring& path) {
  Clear();
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;

  LARGE_INTEGER fileSize{};
  if (!GetFileSizeEx(file.Get(), &fileSize)) return false;
  if (fileSize.QuadPart == 0) return true;
  // A file that the int32 byte count of ParseBuffer cannot describe is refused
  // outright rather than read in part.
  if (fileSize.QuadPart > kMaxFileSize) return false;
  const auto size = static_cast<DWORD>(fileSize.QuadPart);

  if (size > LargeFileLimit && !PassesSampleCheck(file.Get())) return false;

  // Two zero bytes past the end terminate the text in either encoding.
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size + 2]());
  if (!buffer) return false;
  DWORD got = 0;
  if (!ReadFile(file.Get(), buffer.get(), size, &got, nullptr) || got != size) return false;
  // A file whose text cannot be decoded loads as an empty document; a single
  // byte is too short to hold anything.
  if (size >= 2) ParseBuffer(buffer.get(), static_cast<int32_t>(size));
  return true;
}

bool IniDocument::ParseBuffer(const uint8_t* bytes, int32_t length) {
  if (bytes == nullptr || length < 0) return false;
  std::wstring text;
  if (!DecodeText(bytes, length, codePage, &text)) return false;

  // Every text starts outside any section, also when the document has some.
  IniSection* current = nullptr;
  std::wstring rawLine;
  size_t pos = 0;
  while (ReadLine(text, &pos, &rawLine)) {
    const std::wstring line = Trim(rawLine);
    switch (Classify(line)) {
      case LineClass::Blank:
      case LineClass::Comment:
        break;
      case LineClass::SectionHeader: {
        const std::wstring name = Trim(line.substr(1, line.size() - 2));
        current = name.empty() ? nullptr : AddSection(name);
        break;
      }
      case LineClass::KeyValue: {
        if (current == nullptr) break;
        const size_t equals = line.find(L'=');
        IniEntry entry;
        entry.name = Trim(line.substr(0, equals));
        if (entry.name.empty()) break;
        entry.value = Unquote(Trim(line.substr(equals + 1)));
        entry.kind = static_cast<uint32_t>(LineClass::KeyValue);
        AddEntry(current, std::move(entry));
        break;
      }
      case LineClass::PlainLine: {
        if (current == nullptr) break;
        IniEntry entry;
        const size_t semicolon = line.find(L';');
        entry.name = semicolon == std::wstring::npos ? line : Trim(line.substr(0, semicolon));
        entry.kind = static_cast<uint32_t>(LineClass::PlainLine);
        AddEntry(current, std::move(entry));
        break;
      }
    }
  }
  return true;
}

void IniDocument::Clear() {
  sectionIndex_.reset();
  sections_.clear();
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
