#pragma once
// Which lines of a session file are records: a Perl-compatible regular
// expression (PCRE2, bytes, no UTF mode) whose first capture group is the
// record number. The default takes a line that begins with an optional letter
// and the number followed by ",", ";", a blank or a tab.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace Records {

inline constexpr const char* kDefaultRecordPattern = "^[A-Za-z]?([0-9]+)[,; \\t]";

class RecordPattern {
 public:
  // The compiled pattern; none, with `error` saying why (the position and
  // PCRE2's message, or the lack of a capture group), when it cannot be used.
  static std::optional<RecordPattern> Compile(const std::string& text, std::string& error);

  RecordPattern(RecordPattern&&) noexcept;
  RecordPattern& operator=(RecordPattern&&) noexcept;
  ~RecordPattern();

  // How a line (without its line end) compares with the pattern.
  enum class Kind {
    kNoMatch,
    kRecord,     // the first group is a decimal number from 0 to 2147483647
    kNotNumber,  // the line matches but its first group is not only digits
    kTooLarge,   // the first group is a number above 2147483647
  };
  struct Match {
    Kind kind = Kind::kNoMatch;
    int32_t number = 0;  // for kRecord
  };
  Match Classify(std::string_view line) const;

  // The record number of `line`, when Classify finds a record; none otherwise.
  std::optional<int32_t> Number(std::string_view line) const;

  // The text the pattern was compiled from.
  const std::string& Text() const;

 private:
  struct Compiled;
  explicit RecordPattern(std::unique_ptr<Compiled> compiled);
  std::unique_ptr<Compiled> mCompiled;
};

}  // namespace Records
