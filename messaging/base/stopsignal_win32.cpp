// SPDX-License-Identifier: MIT
// The stop requests on Windows: the console's control handler and other programs set one named
// event. The handler runs on a thread of its own and returns TRUE, so the process is not ended
// before it has closed its connections.

#include "stopsignal.h"

#include <windows.h>

#include <atomic>
#include <string>

namespace
{
std::atomic<HANDLE> g_hStop{nullptr};

std::wstring StopEventName(DWORD pid)
{
    return L"Local\\zelbin-stop-" + std::to_wstring(pid);
}

BOOL WINAPI OnConsoleControl(DWORD /*iType*/)
{
    if (const HANDLE hStop = g_hStop.load())
        ::SetEvent(hStop);
    return TRUE;
}
} // namespace

CStopSignal::CStopSignal()
{
    const HANDLE hEvent =
        ::CreateEventW(nullptr, TRUE, FALSE, StopEventName(::GetCurrentProcessId()).c_str());
    if (!hEvent)
        return;
    SetHandle(reinterpret_cast<WaitHandleValue>(hEvent), 0);
    g_hStop = hEvent;
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CStopSignal::~CStopSignal()
{
    if (m_hHandle == NO_HANDLE)
        return;
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_hStop = nullptr;
    ::CloseHandle(reinterpret_cast<HANDLE>(m_hHandle));
}

void CStopSignal::Raise()
{
    if (const HANDLE hStop = g_hStop.load())
        ::SetEvent(hStop);
}

bool CStopSignal::RequestStopOf(int pid)
{
    const HANDLE hStop =
        ::OpenEventW(EVENT_MODIFY_STATE, FALSE, StopEventName(static_cast<DWORD>(pid)).c_str());
    if (!hStop)
        return false;
    ::SetEvent(hStop);
    ::CloseHandle(hStop);
    return true;
}
