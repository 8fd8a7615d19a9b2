#pragma once

#include <string>
#include <string_view>

namespace tolvane {

// `text` with every byte that is not part of valid UTF-8 written as \xHH: file names and
// playlist texts may be in any encoding, reports and documents take UTF-8 only.
std::string validUtf8(std::string_view text);

// `text` made safe to print on a terminal: invalid UTF-8 and control characters (C0, DEL and
// C1, escape sequences among them) written as \xHH, so that a name cannot move the cursor,
// clear the screen or retitle the window.
std::string terminalSafe(std::string_view text);

// `text` with its ASCII letters in upper case.
std::string upperCase(std::string_view text);
// `text` on one line: line breaks and the other control characters become blanks.
std::string singleLine(std::string_view text);

}  // namespace tolvane
