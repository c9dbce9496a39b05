// SPDX-License-Identifier: MIT
// Whole-number parsing for what people type.

#include "numbers.h"

bool ParseWholeNumber(std::string_view text, uint64_t iMax, uint64_t& iOut)
{
    unsigned iBase = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    {
        iBase = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    uint64_t v = 0;
    for (const char c : text)
    {
        unsigned d = 0;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (iBase == 16 && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (iBase == 16 && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        if (v > (iMax - d) / iBase)
            return false;
        v = v * iBase + d;
    }
    iOut = v;
    return true;
}
