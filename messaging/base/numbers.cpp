// SPDX-License-Identifier: MIT
// Whole-number parsing for what people type.

#include "numbers.h"

bool ParseWholeNumber(std::string_view text, uint64_t iMax, uint64_t& iOut)
{
    const bool bHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    return ReadDigits(bHex ? text.substr(2) : text, bHex ? 16 : 10, iMax, iOut) == EDigits::Read;
}
