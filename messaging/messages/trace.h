// SPDX-License-Identifier: MIT
// The messaging library's one channel for diagnostic lines. Nothing is written unless a sink is
// installed; Zelbin installs none, zelbinctl --trace and the tests do.
#pragma once

#include <functional>

using TraceSink = std::function<void(const char* pszLine)>;

// Formats with printf rules into a shared 4096-byte buffer (longer text is cut) and hands the
// buffer to the installed sink, all under the trace lock.
// MinGW formats with its own C99 printf (it knows %zu), which its compiler calls gnu_printf.
#if defined(__MINGW32__)
#define ZELBIN_PRINTF_FORMAT gnu_printf
#else
#define ZELBIN_PRINTF_FORMAT printf
#endif
void Trace(const char* pszFormat, ...) __attribute__((format(ZELBIN_PRINTF_FORMAT, 1, 2)));

// Installs a sink (an empty function removes it) and returns the one it replaces.
TraceSink SetTraceSink(TraceSink sink);
