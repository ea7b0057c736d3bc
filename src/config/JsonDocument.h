#pragma once
// What Configuration and Prefs share: parsing a settings file's text into a JSON
// object, writing it in indented form, and turning item values into
// the text and Int32 that the download run reads. Nothing here throws.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "base/FolderItem.h"

namespace JsonDocument {

// Deepest nesting of arrays and objects accepted from a file. Serialising and
// copying values recurse, so a file of a million "[" must not reach them.
constexpr int kMaxDepth = 512;

// The child `name` of `folder`, or none when `name` cannot name an item inside
// it (empty, ".", "..", or holding "/" or a NUL byte).
std::optional<FolderItem> ChildFile(const FolderItem& folder, const std::string& name);

// Parses `text` as a JSON document whose top level is an object. On failure
// returns none and puts the reason in `error` (the parser's own message for
// syntax errors).
std::optional<nlohmann::json> ParseObject(const std::string& text, std::string& error);

// The indented form (two spaces per level, "\n" between lines, none at the
// end). None when a text in the document is not valid UTF-8: such a document is
// not written rather than written altered.
std::optional<std::string> Serialize(const nlohmann::json& document);

// The form a program prints a JSON report in: indented by `indent` (none
// when negative), ended by "\n". Texts taken from files may hold bytes that are
// not UTF-8: they are shown as U+FFFD instead of making the dump throw, so a
// report is always one valid document. Works for json and ordered_json.
template <typename Json>
std::string ReportText(const Json& value, int indent = 2) {
  return value.dump(indent, ' ', false, Json::error_handler_t::replace) + "\n";
}

// Text of a value: texts as they are, numbers in decimal ("9600", "2.5"),
// booleans "true"/"false". None for null, objects and arrays.
std::optional<std::string> ToText(const nlohmann::json& value);

// Int32 of a value: numbers truncated toward zero, texts by their leading
// integer, booleans 1/0; always clamped to the Int32 range, never wrapped. None
// for null, objects and arrays.
std::optional<int32_t> ToInt32(const nlohmann::json& value);

}  // namespace JsonDocument
