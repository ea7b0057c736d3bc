#pragma once
// Text helpers shared by the option definitions, the parser and the help layout.
// Texts are UTF-8; a "character" is one encoded code point. Bytes that do not
// form valid UTF-8 never split a valid sequence: a stray continuation byte is
// counted with the character before it, so nothing here can fail.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace OptionText {

// Byte offsets at which the characters of the text begin.
std::vector<size_t> CharStarts(std::string_view text);
size_t CharCount(std::string_view text);
// The characters of the text, each as its own string.
std::vector<std::string> Characters(std::string_view text);
// The code point of the first character (its first byte when it is not valid
// UTF-8); -1 for an empty text.
int32_t CharCode(std::string_view text);

// Drops white space (blank, tab, CR, LF, FF, VT) from both ends.
std::string Trim(std::string_view text);
// Turns "\r\n" and lone "\r" into "\n".
std::string NormaliseLineEndings(std::string_view text);

}  // namespace OptionText
