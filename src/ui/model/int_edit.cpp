#include "ui/model/int_edit.h"

#include <charconv>
#include <limits>

namespace tolvane {

int64_t intEditValue(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
            return 0;
        }
    }
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return 0;
    }
    return value;
}

std::string intEditText(int64_t value) {
    return std::to_string(value);
}

bool intEditAccepts(char typed) {
    return typed == 8 || typed == 13 || typed == '+' || typed == '-' ||
           (typed >= '0' && typed <= '9');
}

}  // namespace tolvane
