#pragma once
// ASCII-only text helpers shared by every subsystem: letter case and white space.
// Bytes outside ASCII are never changed or matched as letters, so UTF-8 text and
// raw controller bytes pass through unchanged.

#include <string>
#include <string_view>

namespace AsciiText {

char Lower(char c);
char Upper(char c);
std::string Lower(std::string_view text);

bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);
bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix);

// Blank and tab.
bool IsBlank(char c);
// Blank, tab, CR, LF, FF and VT.
bool IsSpace(char c);

}  // namespace AsciiText
