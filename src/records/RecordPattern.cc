#define PCRE2_CODE_UNIT_WIDTH 8
#include "records/RecordPattern.h"

#include <pcre2.h>

namespace Records {

struct RecordPattern::Compiled {
  pcre2_code* code = nullptr;
  pcre2_match_data* match = nullptr;
  std::string text;
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
  compiled->text = text;
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

RecordPattern::Match RecordPattern::Classify(std::string_view line) const {
  const int rc = pcre2_match(mCompiled->code, reinterpret_cast<PCRE2_SPTR>(line.data()),
                             line.size(), 0, 0, mCompiled->match, nullptr);
  if (rc < 1) return {};  // no match, or an error
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(mCompiled->match);
  // Group 1 took no part (another branch matched): not a record line.
  if (rc < 2 || ovector[2] == PCRE2_UNSET) return {};
  if (ovector[2] >= ovector[3]) return {Kind::kNotNumber};  // empty
  int64_t number = 0;
  bool tooLarge = false;
  for (PCRE2_SIZE i = ovector[2]; i < ovector[3]; ++i) {
    const char c = line[i];
    if (c < '0' || c > '9') return {Kind::kNotNumber};
    if (!tooLarge) number = number * 10 + (c - '0');
    tooLarge = tooLarge || number > INT32_MAX;
  }
  if (tooLarge) return {Kind::kTooLarge};
  return {Kind::kRecord, static_cast<int32_t>(number)};
}

std::optional<int32_t> RecordPattern::Number(std::string_view line) const {
  const Match m = Classify(line);
  if (m.kind != Kind::kRecord) return std::nullopt;
  return m.number;
}

const std::string& RecordPattern::Text() const { return mCompiled->text; }

}  // namespace Records
