#include "journal/JournalTail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>

#include "base/CivilDate.h"
#include "base/UniqueFd.h"

namespace Journal {

namespace {

namespace Key = RunJournalFormat::Key;

constexpr size_t kBlock = 16 * 1024;
// A journal line is a few hundred bytes; anything far longer is damage.
constexpr size_t kMaxLine = 64 * 1024;

// The number of `width` digits at `at`, or -1.
int Digits(std::string_view text, size_t at, size_t width) {
  if (at + width > text.size()) return -1;
  int value = 0;
  for (size_t i = at; i < at + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::optional<std::string> Text(const nlohmann::json& line, const char* key) {
  auto item = line.find(key);
  if (item == line.end() || !item->is_string()) return std::nullopt;
  return item->get<std::string>();
}

std::optional<int64_t> Integer(const nlohmann::json& line, const char* key) {
  auto item = line.find(key);
  if (item == line.end() || !item->is_number_integer()) return std::nullopt;
  return item->get<int64_t>();
}

std::optional<double> Number(const nlohmann::json& line, const char* key) {
  auto item = line.find(key);
  if (item == line.end() || !item->is_number()) return std::nullopt;
  return item->get<double>();
}

// The run of one line; none for a line that is not a journal entry.
std::optional<Run> ParseLine(std::string_view text, std::optional<int64_t>& recordsLogged) {
  if (text.empty() || text.size() > kMaxLine || text.front() != '{') return std::nullopt;
  nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
  if (line.is_discarded() || !line.is_object()) return std::nullopt;
  std::optional<std::string> outcome = Text(line, Key::kOutcome);
  if (!outcome) return std::nullopt;
  Run run;
  run.outcome = *outcome;
  run.start = Text(line, Key::kStart).value_or("");
  run.end = Text(line, Key::kEnd).value_or("");
  run.endTime = ParseTime(run.end.empty() ? run.start : run.end);
  run.status = Integer(line, Key::kStatus);
  run.fatal = Text(line, Key::kFatal);
  run.durationS = Number(line, Key::kDuration);
  run.sessionBytes = Integer(line, Key::kSessionBytes);
  recordsLogged = Integer(line, Key::kRecordsLogged);
  return run;
}

std::string Quoted(const char* word) { return std::string("\"") + word + "\""; }

// Cheap tests on the raw text, so that the lines passed over while looking for
// an older complete run or record count are not all parsed: false only when
// the line cannot be what is still wanted.
bool MayBeComplete(std::string_view line) {
  static const std::string complete = Quoted(RunJournalFormat::Outcome::kComplete);
  return line.find(complete) != std::string_view::npos;
}
bool MayHaveRecordCount(std::string_view line) {
  static const std::string key = Quoted(Key::kRecordsLogged);
  size_t at = line.find(key);
  if (at == std::string_view::npos) return false;
  at += key.size();
  while (at < line.size() && (line[at] == ' ' || line[at] == ':' || line[at] == '\t')) ++at;
  return at < line.size() && ((line[at] >= '0' && line[at] <= '9') || line[at] == '-');
}

}  // namespace

std::optional<int64_t> ParseTime(const std::string& text) {
  std::string_view t = text;
  const int year = Digits(t, 0, 4), month = Digits(t, 5, 2), day = Digits(t, 8, 2);
  const int hour = Digits(t, 11, 2), minute = Digits(t, 14, 2), second = Digits(t, 17, 2);
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 60 || t[4] != '-' || t[7] != '-' ||
      (t[10] != 'T' && t[10] != ' ') || t[13] != ':' || t[16] != ':')
    return std::nullopt;
  size_t at = 19;
  if (at < t.size() && t[at] == '.') {
    ++at;
    while (at < t.size() && t[at] >= '0' && t[at] <= '9') ++at;
  }
  int64_t offset = 0;
  if (at < t.size() && t[at] == 'Z') {
    ++at;
  } else if (at < t.size() && (t[at] == '+' || t[at] == '-')) {
    const int oh = Digits(t, at + 1, 2), om = Digits(t, at + 4, 2);
    if (oh < 0 || om < 0 || at + 3 >= t.size() || t[at + 3] != ':') return std::nullopt;
    offset = (t[at] == '+' ? 1 : -1) * (oh * 3600 + om * 60);
    at += 6;
  }
  if (at != t.size()) return std::nullopt;
  return CivilDate::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) *
             86400 +
         hour * 3600 + minute * 60 + second - offset;
}

Tail ReadTail(const std::string& path, size_t recentRuns) {
  Tail tail;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.Valid()) {
    if (errno != ENOENT) {
      tail.exists = true;
      tail.error = std::strerror(errno);
    }
    return tail;
  }
  tail.exists = true;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) {
    tail.error = std::strerror(errno);
    return tail;
  }
  if (!S_ISREG(st.st_mode)) {
    tail.error = "not a regular file";
    return tail;
  }

  bool haveLogged = false;
  // Takes one whole line; true once nothing more is needed.
  auto take = [&](std::string_view line) {
    const bool wantRecent = tail.recent.size() < recentRuns;
    if (tail.last && !wantRecent && !(!tail.lastComplete && MayBeComplete(line)) &&
        !(!haveLogged && MayHaveRecordCount(line)))
      return false;
    std::optional<int64_t> logged;
    std::optional<Run> run = ParseLine(line, logged);
    if (!run) return false;
    if (!haveLogged && logged) {
      tail.recordsLogged = logged;
      haveLogged = true;
    }
    if (!tail.last) tail.last = *run;
    if (wantRecent) tail.recent.push_back(*run);
    if (!tail.lastComplete && run->Complete()) tail.lastComplete = std::move(*run);
    return tail.lastComplete && haveLogged && tail.recent.size() >= recentRuns;
  };

  // `pending` holds the bytes from `pos` to the first line break after it: the
  // unfinished front of the line being assembled, which a further block completes.
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const uint64_t limit = size > kMaxReadBack ? size - kMaxReadBack : 0;
  uint64_t pos = size;
  std::string pending;
  std::string block;
  bool dropLast = false;  // the last segment is the front of an overlong line
  while (pos > limit) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kBlock, pos - limit));
    block.resize(n);
    size_t got = 0;
    while (got < n) {
      ssize_t r = ::pread(fd.Get(), block.data() + got, n - got, static_cast<off_t>(pos - n + got));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        tail.error = std::strerror(errno);
        return tail;
      }
      if (r == 0) break;  // the file shrank: take what there is
      got += static_cast<size_t>(r);
    }
    block.resize(got);
    pos -= n;
    pending.insert(0, block);
    // Every line break in `pending` closes the line after it.
    size_t end = pending.size();
    for (size_t nl = pending.rfind('\n', end == 0 ? 0 : end - 1); nl != std::string::npos;
         nl = nl == 0 ? std::string::npos : pending.rfind('\n', nl - 1)) {
      if (!dropLast && take(std::string_view(pending).substr(nl + 1, end - nl - 1))) return tail;
      dropLast = false;
      end = nl;
    }
    pending.resize(end);
    if (pending.size() > kMaxLine) {  // damage: no line is this long
      pending.clear();
      dropLast = true;
    }
  }
  if (pos == 0 && !pending.empty() && !dropLast) take(pending);
  return tail;
}

}  // namespace Journal
