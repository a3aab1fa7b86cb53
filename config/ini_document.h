// A read-only INI document: UTF-8 (with or without BOM) or UTF-16LE (FF FE)
// text, sections and entries kept in text order, names matched without regard
// to ASCII letter case, hash indexes once a list grows past a fixed size.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

namespace tw {

enum class LineClass : uint32_t {
  SectionHeader = 1,
  KeyValue = 2,
  Comment = 3,
  Blank = 4,
  PlainLine = 5,
};

struct IniEntry {
  std::wstring name;   // the key, or the whole text of a plain line
  std::wstring value;  // empty for a plain line
  uint32_t kind = 0;   // LineClass::KeyValue (2) or LineClass::PlainLine (5)
};

struct IniSection {
  std::wstring name;  // as written in the first header that introduced it
  std::list<IniEntry> entries;
  // Folded name -> last-added entry of that name; present past 30 entries.
  std::unique_ptr<std::unordered_map<std::wstring, IniEntry*>> entryIndex;
};

class IniDocument {
 public:
  static constexpr size_t SectionIndexThreshold = 10;
  static constexpr size_t EntryIndexThreshold = 30;
  static constexpr uint32_t LargeFileLimit = 1000000;  // bytes
  static constexpr uint32_t SampleSize = 100000;       // bytes

  IniDocument() = default;
  IniDocument(const IniDocument&) = delete;
  IniDocument& operator=(const IniDocument&) = delete;

  // Replaces the content with the text of the `size` bytes at `bytes` (what
  // was received, never a file that may have changed since). True also for
  // no bytes and for a text that cannot be decoded (the document stays
  // empty); false when the text is more than the document would keep (see
  // ini_document.cpp), the document then empty.
  bool LoadBytes(const uint8_t* bytes, uint64_t size);
  // Decodes `length` bytes and adds their sections and entries. False when
  // the bytes cannot be decoded or are more than the document would keep;
  // nothing is added then.
  bool ParseBuffer(const uint8_t* bytes, int32_t length);
  void Clear();

  std::wstring GetString(const std::wstring& section, const std::wstring& key,
                         const std::wstring& defaultValue) const;
  // The entry's value read as wcstoul does in base 10; the default only when
  // the section or the key is missing.
  uint32_t GetInt(const std::wstring& section, const std::wstring& key, uint32_t defaultValue) const;

  const IniSection* FindSection(const std::wstring& name) const;
  const IniEntry* FindEntry(const IniSection& section, const std::wstring& name) const;
  size_t SectionCount() const { return sections_.size(); }
  const std::list<IniSection>& Sections() const { return sections_; }
  bool HasSectionIndex() const { return sectionIndex_ != nullptr; }

  uint32_t codePage = 65001;  // for text without a byte-order mark

 private:
  enum class ParseOutcome { Parsed, Undecodable, OverBudget };
  ParseOutcome Parse(const uint8_t* bytes, int32_t length);
  IniSection* AddSection(const std::wstring& name);
  void AddEntry(IniSection* section, IniEntry entry);
  IniSection* FindSectionMutable(const std::wstring& name);

  std::list<IniSection> sections_;
  std::unique_ptr<std::unordered_map<std::wstring, IniSection*>> sectionIndex_;
  uint64_t keptEstimate_ = 0;  // bytes: what the texts parsed since Clear may cost
};

}  // namespace tw
