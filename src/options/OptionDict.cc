#include "options/OptionDict.h"

#include "base/AsciiText.h"

Option* OptionDict::Find(int32_t charCode) const {
  auto found = mCodes.find(charCode);
  return found == mCodes.end() ? nullptr : found->second;
}

Option* OptionDict::Find(const std::string& text) const {
  auto found = mTexts.find(AsciiText::Lower(text));
  return found == mTexts.end() ? nullptr : found->second;
}

void OptionDict::Add(const std::string& text, Option* option) {
  mTexts[AsciiText::Lower(text)] = option;
}
