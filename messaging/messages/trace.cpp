// SPDX-License-Identifier: MIT
// Trace output: formatted lines to an installable sink, serialised by the trace lock. The sink is
// called under it, so a sink must not trace, and takes only locks that nothing holds while
// tracing (the stand-in's log lock, say).

#include "trace.h"
#include "sync.h"

#include <cstdarg>
#include <cstdio>

namespace
{
constexpr int TRACE_BUFFER_SIZE = 4096;

struct TraceState
{
    CCriticalSection lock;
    char buffer[TRACE_BUFFER_SIZE] = {};
    TraceSink sink;
};

TraceState& State()
{
    static TraceState state;
    return state;
}
} // namespace

void Trace(const char* pszFormat, ...)
{
    TraceState& state = State();
    CAutoLock lock(state.lock);
    if (!state.sink)
        return;
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(state.buffer, TRACE_BUFFER_SIZE, pszFormat, args);
    va_end(args);
    state.sink(state.buffer);
}

TraceSink SetTraceSink(TraceSink sink)
{
    TraceState& state = State();
    CAutoLock lock(state.lock);
    TraceSink old = std::move(state.sink);
    state.sink = std::move(sink);
    return old;
}
