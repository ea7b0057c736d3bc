#include "options/OptionParser.h"

#include <unistd.h>

#include <utility>

#include "base/AsciiText.h"
#include "base/SpecialFolders.h"
#include "options/OptionExceptions.h"
#include "options/OptionText.h"

namespace {

// Base name of the running executable, for a parser created without a name.
std::string ExecutableName() {
  std::string buffer(4096, '\0');
  ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return "pelox5";
  buffer.resize(static_cast<size_t>(length));
  std::string name = FolderItem(buffer).Name();
  return name.empty() ? "pelox5" : name;
}

}  // namespace

OptionParser::OptionParser(const std::string& appName, const std::string& appDescription)
    : AppDescription(appDescription), AppName(appName.empty() ? ExecutableName() : appName) {
  AddOption(std::make_unique<Option>("h", "help", "Show help", Option::BooleanType));
}

Option& OptionParser::AddOption(std::unique_ptr<Option> option) {
  if (!option) throw OptionParserException(1, "Option must specify at least one key.");
  const std::string& shortKey = option->ShortKey;
  const std::string& longKey = option->LongKey;
  if (!shortKey.empty() && mDict.Contains(OptionText::CharCode(shortKey)))
    throw OptionParserException(1, "You can't add the same short key more than once: " + shortKey);
  if (!longKey.empty() && mDict.Contains(longKey))
    throw OptionParserException(1, "You can't add the same long key more than once: " + longKey);
  if (shortKey == "?")
    throw OptionParserException(1,
                                "You can't add the key \"?\" This means \"help\" and has already "
                                "been added for you");
  Option* stored = option.get();
  mOptions.push_back(std::move(option));
  if (!shortKey.empty()) mDict.Add(OptionText::CharCode(shortKey), stored);
  if (!longKey.empty()) mDict.Add(longKey, stored);
  return *stored;
}

std::vector<std::string> OptionParser::Arguments() const { return CopyStringArray(mOriginalArgs); }

std::vector<std::string> OptionParser::CopyStringArray(const std::vector<std::string>& source) {
  return std::vector<std::string>(source.begin(), source.end());
}

std::vector<std::string> OptionParser::ExpandArgs(const std::vector<std::string>& args) {
  std::vector<std::string> expanded;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& element = args[i];
    if (element == "--") {
      expanded.insert(expanded.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
      break;
    }
    if (element.starts_with("--") || !element.starts_with("-") ||
        OptionText::CharCount(element) < 3) {
      expanded.push_back(element);
      continue;
    }
    // A cluster of short keys; an "=" after the first key starts the value of the last.
    std::string body = element.substr(1);
    size_t equals = body.find('=', 1);
    std::string tail = equals == std::string::npos ? "" : body.substr(equals);
    std::vector<std::string> keys = OptionText::Characters(body.substr(0, equals));
    for (size_t k = 0; k < keys.size(); ++k) {
      expanded.push_back("-" + keys[k] + (k + 1 == keys.size() ? tail : ""));
    }
  }
  return expanded;
}

void OptionParser::Parse(const std::vector<std::string>& args, bool skipFirst) {
  mOriginalArgs = CopyStringArray(args);
  // The program path is set aside before expansion, so that a path that looks
  // like a cluster or like "--" cannot change how the real arguments are read.
  std::vector<std::string> list;
  if (skipFirst && !args.empty()) {
    list.push_back(args.front());
    std::vector<std::string> rest = ExpandArgs({args.begin() + 1, args.end()});
    list.insert(list.end(), rest.begin(), rest.end());
  } else {
    list = ExpandArgs(args);
  }

  bool extrasOnly = false;
  for (size_t index = 0; index < list.size(); ++index) {
    const std::string& element = list[index];
    if (index == 0 && skipFirst) continue;
    if (extrasOnly) {
      Extra.push_back(element);
    } else if (element.empty()) {
      continue;
    } else if (element == "--") {
      extrasOnly = true;
    } else if (element.front() != '-') {
      Extra.push_back(element);
    } else {
      HandleElement(list, index);
    }
  }
  if (HelpRequested()) return;
  CheckResult();
}

void OptionParser::HandleElement(const std::vector<std::string>& list, size_t& index) {
  std::string element = list[index];
  if (element.starts_with("-?")) element = "-h" + element.substr(2);
  std::string key = element.substr(element.starts_with("--") ? 2 : 1);
  std::string value;
  bool valueWritten = false;
  size_t equals = key.find('=', 1);
  if (equals != std::string::npos) {
    value = key.substr(equals + 1);
    key.resize(equals);
    valueWritten = true;
  }

  Option* option = OptionValue(key);
  if (!option) {
    if (!AsciiText::StartsWithIgnoringCase(key, "no-")) RaiseUnrecognizedKeyException(key);
    std::string negated = key.substr(3);
    option = OptionValue(negated);
    if (!option || option->Type != Option::BooleanType) RaiseUnrecognizedKeyException(negated);
    value = "No";
  }

  if (value.empty() && !valueWritten) {
    if (option->Type == Option::BooleanType) {
      value = "Yes";
    } else if (HelpRequested()) {
      // Nothing is consumed: the value stays empty, and an option with allowed
      // values refuses it below.
    } else if (index + 1 >= list.size()) {
      RaiseInvalidKeyValueException(key, "key value is missing");
    } else {
      value = list[++index];
    }
  }
  option->HandleValue(value);
}

void OptionParser::CheckResult() const {
  if (ExtrasRequired >= 1 && Extra.size() < static_cast<size_t>(ExtrasRequired))
    throw OptionParserException(1, "Insufficient extras specified");
  for (const auto& option : mOptions) {
    if (option->IsValid()) continue;
    const std::string& name = option->LongKey.empty() ? option->ShortKey : option->LongKey;
    if (option->IsRequired && option->Value.IsEmpty()) RaiseMissingKeyException(name);
    RaiseInvalidKeyValueException(name, "key value is invalid '" + option->ValueText() + "'");
  }
}

bool OptionParser::HelpRequested() const {
  const Option* help = mDict.Find(std::string("help"));
  return help && help->WasSet;
}

void OptionParser::SetAdditionalHelpNotes(const std::string& notes) {
  mAdditionalHelpNotes = OptionText::NormaliseLineEndings(OptionText::Trim(notes));
}

Option* OptionParser::OptionValue(const std::string& key) const {
  if (Option* option = mDict.Find(key)) return option;
  if (OptionText::CharCount(key) == 1) return mDict.Find(OptionText::CharCode(key));
  return nullptr;
}

Variant OptionParser::Value(const Variant& key) const {
  std::string text = key.ToText();
  const Option* option = mDict.Find(text);
  if (!option && !text.empty()) option = mDict.Find(OptionText::CharCode(text));
  return option ? option->Value : Variant();
}

bool OptionParser::BooleanValue(const Variant& key, bool defaultValue) const {
  const Option* option = OptionValue(key.ToText());
  if (!option || !option->WasSet) return defaultValue;
  return option->Value.ToBoolean();
}

::DateValue OptionParser::DateValue(const Variant& key, const ::DateValue& defaultValue) const {
  Variant value = Value(key);
  if (value.IsEmpty()) return defaultValue;
  // A DATE option keeps a text that is no date; that yields the default too.
  return value.ToDate().value_or(defaultValue);
}

double OptionParser::DoubleValue(const Variant& key, double defaultValue) const {
  Variant value = Value(key);
  return value.IsEmpty() ? defaultValue : value.ToDouble();
}

std::optional<FolderItem> OptionParser::FileValue(
    const Variant& key, const std::optional<FolderItem>& defaultValue) const {
  Variant value = Value(key);
  if (value.IsEmpty()) return defaultValue;
  if (!value.IsFolderItem()) return std::nullopt;
  return value.ToFolderItem();
}

int32_t OptionParser::IntegerValue(const Variant& key, int32_t defaultValue) const {
  Variant value = Value(key);
  return value.IsEmpty() ? defaultValue : value.ToInt32();
}

std::string OptionParser::StringValue(const Variant& key, const std::string& defaultValue) const {
  const Option* option = OptionValue(key.ToText());
  if (!option || !option->WasSet) return defaultValue;
  std::string text = option->Value.ToText();
  return text.empty() ? defaultValue : text;
}

Variant::Array OptionParser::ArrayValue(const Variant& key) const {
  const Option* option = OptionValue(key.ToText());
  return option ? option->Value.ToArray() : Variant::Array{};
}

std::string OptionParser::KeyWithDashes(const std::string& key) {
  std::string trimmed = OptionText::Trim(key);
  if (trimmed.empty() || trimmed.front() == '-') return trimmed;
  return (OptionText::CharCount(trimmed) == 1 ? "-" : "--") + trimmed;
}

FolderItem OptionParser::GetRelativeFolderItem(const std::string& path,
                                               const std::optional<FolderItem>& base) {
  std::string resolved = path;
  if (resolved.starts_with("~/"))
    resolved = SpecialFolders::Home().NativePath() + resolved.substr(1);
  if (resolved.starts_with("/")) return FolderItem(resolved);

  std::string joined =
      (base ? base->NativePath() : SpecialFolders::CurrentWorkingDirectory().NativePath()) + "/" +
      resolved;
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t slash = joined.find('/', start);
    if (slash == std::string::npos) slash = joined.size();
    std::string piece = joined.substr(start, slash - start);
    if (piece == "..") {
      if (!pieces.empty()) pieces.pop_back();
    } else if (!piece.empty() && piece != ".") {
      pieces.push_back(std::move(piece));
    }
    start = slash + 1;
  }
  std::string result;
  for (const std::string& piece : pieces) result += "/" + piece;
  return FolderItem(result.empty() ? "/" : result);
}

void OptionParser::RaiseInvalidKeyValueException(const std::string& key,
                                                 const std::string& reason) {
  throw OptionInvalidKeyValueException(
      1, "Invalid key value: " + KeyWithDashes(key) + " (" + reason + ")");
}

void OptionParser::RaiseMissingKeyException(const std::string& key) {
  throw OptionMissingKeyException(1, "Missing option: " + KeyWithDashes(key));
}

void OptionParser::RaiseUnrecognizedKeyException(const std::string& key) {
  throw OptionUnrecognizedKeyException(1, "Unrecognized key: " + KeyWithDashes(key));
}
