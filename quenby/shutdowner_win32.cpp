// SPDX-License-Identifier: MIT
// The stop request on Windows: the named event "Local\zelbin-stop-PID", which the service
// programs, zelbinctl and the tests set to stop a program of the system (Windows has no signal
// to send). One listener per process holds it.

#include "shutdowner.h"

#include <windows.h>

#include <string>

namespace Quenby
{

namespace
{
std::atomic<bool> g_bListening{false};

HANDLE Native(intptr_t h)
{
    return reinterpret_cast<HANDLE>(h);
}
} // namespace

bool Shutdowner::Start()
{
    if (m_bStarted || g_bListening.exchange(true))
        return false;
    const std::wstring name = L"Local\\zelbin-stop-" + std::to_wstring(::GetCurrentProcessId());
    const HANDLE hStop = ::CreateEventW(nullptr, FALSE, FALSE, name.c_str());
    const HANDLE hWake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!hStop || !hWake)
    {
        if (hStop)
            ::CloseHandle(hStop);
        if (hWake)
            ::CloseHandle(hWake);
        g_bListening = false;
        return false;
    }
    m_stop = reinterpret_cast<intptr_t>(hStop);
    m_wake[0] = reinterpret_cast<intptr_t>(hWake);
    try
    {
        m_thread = std::thread([this] { Listen(); });
    }
    catch (...)
    {
        return false;
    }
    m_bStarted = true;
    return true;
}

void Shutdowner::Listen()
{
    // The stop event resets itself as the wait takes it: one notification per request.
    const HANDLE handles[2] = {Native(m_wake[0]), Native(m_stop)};
    while (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
    {
        // The pointer handed to the slots does not own the listener: were it to keep it alive,
        // the owner's release during a notification would end the listener on its own thread.
        boost::shared_ptr<Shutdowner> self(this, [](Shutdowner*) {});
        ShutdownRequested(self);
    }
}

Shutdowner::~Shutdowner()
{
    if (!m_bStarted)
        return;
    ::SetEvent(Native(m_wake[0]));
    m_thread.join();
    ::CloseHandle(Native(m_wake[0]));
    ::CloseHandle(Native(m_stop));
    g_bListening = false;
}

} // namespace Quenby
