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

  // The record number of `line` (without its line end): the first capture
  // group, when the line matches and the group holds a plain decimal number
  // from 0 to 2147483647. None otherwise.
  std::optional<int32_t> Number(std::string_view line) const;

 private:
  struct Compiled;
  explicit RecordPattern(std::unique_ptr<Compiled> compiled);
  std::unique_ptr<Compiled> mCompiled;
};

}  // namespace Records
