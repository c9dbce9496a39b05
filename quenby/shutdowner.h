// SPDX-License-Identifier: MIT
// The shutdown listener: how another program asks Zelbin to close. On POSIX that is a stop signal
// (SIGTERM, SIGINT or SIGHUP); on Windows the event "Local\zelbin-stop-PID" that the system's
// programs set to stop each other. The listener turns it into one notification through its
// signal, on its own thread.
#pragma once

#include <boost/shared_ptr.hpp>
#include <boost/signals2/signal.hpp>

#include <atomic>
#include <cstdint>
#include <thread>

namespace Quenby
{

class Shutdowner
{
public:
    using Notification = boost::signals2::signal<void(boost::shared_ptr<Shutdowner>&)>;

    Shutdowner() = default;
    ~Shutdowner();
    Shutdowner(const Shutdowner&) = delete;
    Shutdowner& operator=(const Shutdowner&) = delete;

    // Notifies every connected slot, once per stop request, on the listener's thread.
    Notification ShutdownRequested;

    // Installs the signal handlers and starts listening. False when that cannot be set up,
    // among other reasons because another listener of this process is already listening.
    bool Start();

private:
    void Listen();

    // Ends the listener thread: a pipe that the destructor writes to (POSIX), or an event in
    // m_wake[0] that it sets (Windows); m_stop[0] is the stop event there.
    intptr_t m_wake[2] = {-1, -1};
    intptr_t m_stop = -1;
    std::thread m_thread;
    bool m_bStarted = false;
};

} // namespace Quenby
