#pragma once
// The parser's lookup table from key to option. Short keys are stored under their
// character code, so they match case-sensitively; long keys match without regard
// to ASCII case. Holds borrowed pointers: the parser owns the options.

#include <cstdint>
#include <map>
#include <string>

class Option;

class OptionDict {
 public:
  // Null when nothing is stored under the key.
  Option* Find(int32_t charCode) const;
  Option* Find(const std::string& text) const;
  bool Contains(int32_t charCode) const { return Find(charCode) != nullptr; }
  bool Contains(const std::string& text) const { return Find(text) != nullptr; }
  // Overwrites whatever was stored under the key.
  void Add(int32_t charCode, Option* option) { mCodes[charCode] = option; }
  void Add(const std::string& text, Option* option);

 private:
  std::map<int32_t, Option*> mCodes;
  std::map<std::string, Option*> mTexts;  // keyed by the lower-case text
};
