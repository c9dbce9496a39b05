// SPDX-License-Identifier: MIT
// The Log menu's state and rules: the category mask, logging on or off, connected or not, which
// items are enabled and checked, and what each command sends. The window shows them; nothing
// here is stored twice.
#pragma once

#include <cstdint>
#include <optional>

class CLogMenu
{
public:
    uint32_t iMask = 0;
    bool bLogging = false;
    bool bConnected = false;
    // The first mask reported for the connection made at start decides logging (as when the
    // window asked for it while it was built); every later mask changes only the mask.
    bool bMaskDecidesLogging = false;

    void OnMaskArrived(uint32_t iNewMask)
    {
        iMask = iNewMask;
        if (bMaskDecidesLogging)
            bLogging = iMask != 0;
        bMaskDecidesLogging = false;
    }

    bool IsStartLoggingEnabled() const { return !bLogging && bConnected; }
    bool IsStopLoggingEnabled() const { return bLogging && bConnected; }
    bool IsCategoryEnabled() const { return bConnected; }
    bool IsCategoryChecked(uint32_t iBit) const { return (iMask & iBit) != 0; }

    // Each command changes the state and returns the mask to send.
    uint32_t StartLogging()
    {
        bLogging = true;
        return iMask;
    }
    uint32_t StopLogging()
    {
        bLogging = false;
        return 0;
    }
    // A category flips its bit and the whole new mask is sent, whether logging is on or off.
    uint32_t ToggleCategory(uint32_t iBit)
    {
        iMask ^= iBit;
        return iMask;
    }
};
