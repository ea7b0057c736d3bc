#include "config/JsonDocument.h"

#include <limits>

#include "base/NumberText.h"

namespace JsonDocument {

namespace {

// True when arrays and objects nest no deeper than kMaxDepth outside strings.
bool NestingWithinLimit(const std::string& text) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

int32_t ClampInt64(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace

std::optional<FolderItem> ChildFile(const FolderItem& folder, const std::string& name) {
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
    return std::nullopt;
  return folder.Child(name);
}

std::optional<nlohmann::json> ParseObject(const std::string& text, std::string& error) {
  if (!NestingWithinLimit(text)) {
    error = "arrays and objects nest deeper than " + std::to_string(kMaxDepth) + " levels";
    return std::nullopt;
  }
  nlohmann::json document;
  try {
    document = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& e) {
    error = e.what();
    return std::nullopt;
  }
  // Items are looked up and set by name, which only an object can answer.
  if (!document.is_object()) {
    error = "the document's top level is not a JSON object";
    return std::nullopt;
  }
  return document;
}

std::optional<std::string> Serialize(const nlohmann::json& document) {
  try {
    return document.dump(2);
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

std::optional<std::string> ToText(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::string:
      return value.get_ref<const std::string&>();
    case nlohmann::json::value_t::number_integer:
      return std::to_string(value.get<int64_t>());
    case nlohmann::json::value_t::number_unsigned:
      return std::to_string(value.get<uint64_t>());
    case nlohmann::json::value_t::number_float:
      return NumberText::FormatNumber(value.get<double>());
    case nlohmann::json::value_t::boolean:
      return value.get<bool>() ? "true" : "false";
    default:
      return std::nullopt;
  }
}

std::optional<int32_t> ToInt32(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::string:
      return NumberText::LeadingInt32(value.get_ref<const std::string&>());
    case nlohmann::json::value_t::number_integer:
      return ClampInt64(value.get<int64_t>());
    case nlohmann::json::value_t::number_unsigned: {
      uint64_t number = value.get<uint64_t>();
      return number > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
                 ? std::numeric_limits<int32_t>::max()
                 : static_cast<int32_t>(number);
    }
    case nlohmann::json::value_t::number_float:
      return NumberText::ClampToInt32(value.get<double>());
    case nlohmann::json::value_t::boolean:
      return value.get<bool>() ? 1 : 0;
    default:
      return std::nullopt;
  }
}

}  // namespace JsonDocument
