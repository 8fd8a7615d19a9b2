#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

// The value of an integer edit: its text read as a signed 32-bit decimal number, 0 when the
// text is not one (empty, a sign alone, a sign inside the digits, out of range).
int64_t intEditValue(std::string_view text);
std::string intEditText(int64_t value);
// Whether a typed character reaches the edit (digits, signs, backspace, carriage return).
bool intEditAccepts(char typed);

}  // namespace tolvane
