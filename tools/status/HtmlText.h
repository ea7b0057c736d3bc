#pragma once
// Text from files (folder names, cfg items, journal lines) written into an HTML
// page: whatever it holds comes out as characters, never as markup.

#include <string>
#include <string_view>

namespace HtmlText {

// Appends `text` to `out`, fit for element content and for a double- or
// single-quoted attribute value: & < > " ' as character references, control
// characters other than line feed and tab as blanks, and bytes that are not
// UTF-8 as U+FFFD, so the page stays valid UTF-8 whatever a folder is called.
void Append(std::string& out, std::string_view text);

std::string Escaped(std::string_view text);

}  // namespace HtmlText
