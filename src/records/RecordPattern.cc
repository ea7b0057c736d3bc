#define PCRE2_CODE_UNIT_WIDTH 8
#include "records/RecordPattern.h"

#include <pcre2.h>

namespace Records {

struct RecordPattern::Compiled {
  pcre2_code* code = nullptr;
  pcre2_match_data* match = nullptr;
  ~Compiled() {
    pcre2_match_data_free(match);
    pcre2_code_free(code);
  }
};

RecordPattern::RecordPattern(std::unique_ptr<Compiled> compiled) : mCompiled(std::move(compiled)) {}
RecordPattern::RecordPattern(RecordPattern&&) noexcept = default;
RecordPattern& RecordPattern::operator=(RecordPattern&&) noexcept = default;
RecordPattern::~RecordPattern() = default;

std::optional<RecordPattern> RecordPattern::Compile(const std::string& text, std::string& error) {
  auto compiled = std::make_unique<Compiled>();
  int code = 0;
  PCRE2_SIZE offset = 0;
  compiled->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, &code,
                                 &offset, nullptr);
  if (!compiled->code) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(code, message, sizeof message);
    error = "RecordPattern \"" + text +
            "\" is not a valid regular expression: " + reinterpret_cast<const char*>(message) +
            " (at offset " + std::to_string(offset) + ")";
    return std::nullopt;
  }
  uint32_t groups = 0;
  pcre2_pattern_info(compiled->code, PCRE2_INFO_CAPTURECOUNT, &groups);
  if (groups < 1) {
    error = "RecordPattern \"" + text +
            "\" has no capture group; its first group must capture the record number";
    return std::nullopt;
  }
  // The JIT is only a speed-up: where executable memory is refused (a
  // MemoryDenyWriteExecute sandbox) matching falls back to the interpreter.
  pcre2_jit_compile(compiled->code, PCRE2_JIT_COMPLETE);
  compiled->match = pcre2_match_data_create_from_pattern(compiled->code, nullptr);
  if (!compiled->match) {
    error = "RecordPattern: out of memory";
    return std::nullopt;
  }
  return RecordPattern(std::move(compiled));
}

std::optional<int32_t> RecordPattern::Number(std::string_view line) const {
  const int rc = pcre2_match(mCompiled->code, reinterpret_cast<PCRE2_SPTR>(line.data()),
                             line.size(), 0, 0, mCompiled->match, nullptr);
  if (rc < 2) return std::nullopt;  // no match, an error, or group 1 did not take part
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(mCompiled->match);
  if (ovector[2] == PCRE2_UNSET || ovector[2] >= ovector[3]) return std::nullopt;
  int64_t number = 0;
  for (PCRE2_SIZE i = ovector[2]; i < ovector[3]; ++i) {
    const char c = line[i];
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
    if (number > INT32_MAX) return std::nullopt;
  }
  return static_cast<int32_t>(number);
}

}  // namespace Records
