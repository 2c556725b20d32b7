#pragma once
// A byte-oriented splitter: holds one text (a whole file or a string) and cuts it into fields at
// any byte of a separator set of at most 9 bytes. With the blank among the separators, runs of
// blanks count as one separator and leading blanks are skipped; every other separator ends a
// field, so empty fields are kept. Nothing is decoded: bytes are bytes.
//
// Field indices are 1-based. "int" results are 1 for success and 0 for failure.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "extor/parse_field.h"

class CParseIt {
 public:
  static constexpr std::size_t kMaxSeparators = 9;
  // Point files are small; anything beyond this is refused rather than held in memory.
  static constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;
  // One split never produces more fields than this (8 bytes each); beyond it the split fails.
  static constexpr std::size_t kMaxFields = std::size_t{1} << 23;

  CParseIt() = default;
  CParseIt(const CParseIt&) = delete;
  CParseIt& operator=(const CParseIt&) = delete;

  int IsSeparator(char byte) const;
  // Loads the whole file (opened read-only) up to its first NUL byte. Fails when a text is
  // already held, the file cannot be opened, is no regular file, is empty or is larger than
  // kMaxFileBytes; LastError() then says why.
  int ReadFile(const std::string& path);
  void Reset();  // forgets text and fields; separators back to ","
  int ReadAndParse(const std::string& path, const char* separators);
  int GetCount() const { return static_cast<int>(spans_.size()); }
  const char* GetSeparators() const { return separators_.c_str(); }
  void SetSeparators(const char* separators);  // keeps the first 9 bytes
  // Holds a copy of the text up to its first NUL; fails when a text is already held.
  int ParseString(const char* text, const char* separators);
  int ParseString(std::string_view text, const char* separators);
  // Splits the held text; fails when none is held or the field count would pass kMaxFields.
  int Parse();

  CParseField GetField(int index) const;  // empty when the index is not valid
  int GetLong(int index, long* value) const;
  int GetInt(int index, int* value) const;
  int GetDouble(int index, double* value) const;
  // Copies the text with its terminator; fails (buffer untouched) on a bad index or when the
  // buffer is too small.
  int GetString(int index, char* buffer, std::size_t size) const;
  int GetString(int index, std::string& value) const;  // empties the string on a bad index

  // The field's bytes without a copy; valid until the next Parse or Reset.
  std::string_view FieldView(int index) const;
  bool HoldsText() const { return held_; }
  // The file read last held a NUL byte: the text stops there.
  bool CutAtNul() const { return cutAtNul_; }
  // Why the last ReadFile or Parse failed ("" after a success).
  const std::string& LastError() const { return error_; }

 private:
  struct Span {
    std::uint32_t begin, length;
  };
  bool ValidIndex(int index) const { return index >= 1 && index <= GetCount(); }

  std::string separators_ = ",";
  std::string text_;
  bool held_ = false;
  bool cutAtNul_ = false;
  std::vector<Span> spans_;
  std::string error_;
};
