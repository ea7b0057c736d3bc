#pragma once
// The items of a JSON object, read and set by name, with the conversions every
// settings file of the system uses (JsonDocument::ToText, ToInt32). Configuration
// and Prefs are such objects; each raises its own family's errors: `NotFound`
// for a missing item, `BadValue` for one that cannot be converted (both built
// from the item's name).

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/ItemAccess.h"
#include "config/JsonDocument.h"

template <class Owner, class NotFound, class BadValue>
class JsonItems {
 public:
  // The value of the item, or NotFound.
  nlohmann::json Get(const std::string& name) const {
    auto item = mItems.find(name);
    if (item == mItems.end()) throw NotFound(name);
    return *item;
  }
  // Creates or replaces the item in memory; the file changes only at Save.
  void Set(const std::string& name, nlohmann::json value) { mItems[name] = std::move(value); }

  // The item as text (numbers in decimal, booleans "true"/"false") or as Int32
  // (numbers truncated, texts by their leading integer, clamped). Raise NotFound
  // when it is missing and BadValue for null, objects and arrays.
  std::string GetText(const std::string& name) const {
    std::optional<std::string> text = JsonDocument::ToText(Get(name));
    if (!text) throw BadValue(name);
    return *text;
  }
  int32_t GetInt32(const std::string& name) const {
    std::optional<int32_t> number = JsonDocument::ToInt32(Get(name));
    if (!number) throw BadValue(name);
    return *number;
  }

  // The names of the items, in the document's order.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (auto item = mItems.begin(); item != mItems.end(); ++item) names.push_back(item.key());
    return names;
  }

  nlohmann::json operator[](const std::string& name) const { return Get(name); }
  ItemAccess<Owner> operator[](const std::string& name) {
    return {static_cast<Owner&>(*this), name};
  }

 protected:
  nlohmann::json mItems = nlohmann::json::object();
};
