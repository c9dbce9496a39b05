// SPDX-License-Identifier: MIT
// The Log menu's state and rules: the service's log mask as it last answered, connected or not,
// which items are enabled and checked, and what each command sends. The window shows them;
// nothing here is stored twice.
#pragma once

#include "catalogue.h"

#include <cstdint>
#include <optional>

class CLogMenu
{
public:
    // What the service answered last on this connection; nothing is shown as checked or
    // running before it has answered.
    uint32_t iMask = 0;
    bool bMaskKnown = false;
    bool bConnected = false;
    // What Start Logging asks for: the service's mask whenever it logs anything. Before it ever
    // did, every category the menu offers.
    uint32_t iKeptMask = LOG_DEBUG | LOG_VERBOSE | LOG_PROCESSED | LOG_RAW;
    // A mask sent and not yet confirmed: the next category command starts from it.
    std::optional<uint32_t> pendingMask;

    void OnConnected()
    {
        bConnected = true;
        bMaskKnown = false;
        pendingMask.reset();
    }
    void OnDisconnected()
    {
        bConnected = false;
        bMaskKnown = false;
        pendingMask.reset();
    }
    void OnMaskArrived(uint32_t iNewMask)
    {
        iMask = iNewMask;
        bMaskKnown = true;
        pendingMask.reset();
        if (iMask != 0)
            iKeptMask = iMask;
    }

    // Logging means that the service logs something, as it said.
    bool IsLogging() const { return bMaskKnown && iMask != 0; }
    bool IsStartLoggingEnabled() const { return bConnected && bMaskKnown && iMask == 0; }
    bool IsStopLoggingEnabled() const { return bConnected && IsLogging(); }
    bool IsCategoryEnabled() const { return bConnected && bMaskKnown; }
    bool IsCategoryChecked(uint32_t iBit) const { return bMaskKnown && (iMask & iBit) != 0; }

    // Each command returns the mask to send; the marks change when the service confirms it.
    uint32_t StartLogging() { return *(pendingMask = iKeptMask); }
    uint32_t StopLogging() { return *(pendingMask = 0u); }
    // A category flips its bit in what the service logs (or was last asked to) and the whole new
    // mask is sent; bits without an item go back as they came.
    uint32_t ToggleCategory(uint32_t iBit)
    {
        return *(pendingMask = pendingMask.value_or(iMask) ^ iBit);
    }
};
