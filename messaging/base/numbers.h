// SPDX-License-Identifier: MIT
// Numbers typed by a person (command lines, control commands): read whole and range-checked,
// never wrapped or cut short, so that "7x", "-1" or "70000" for a port is an error, not a value.
#pragma once

#include <cstdint>
#include <string_view>

// Decimal digits, or "0x" and hexadecimal digits; nothing before or after. False for anything
// else and for a value above iMax (iOut is then left as it was).
bool ParseWholeNumber(std::string_view text, uint64_t iMax, uint64_t& iOut);

// The same, into a narrower type.
template <typename T> bool ParseWholeNumber(std::string_view text, uint64_t iMax, T& out)
{
    uint64_t v = 0;
    if (!ParseWholeNumber(text, iMax, v))
        return false;
    out = static_cast<T>(v);
    return true;
}
