// SPDX-License-Identifier: MIT
// A client's events dispatched on the test's thread as the window does: the sink sets an event when
// messages wait; Pump calls ProcessMessages until a condition holds or the deadline passes.
#pragma once

#include "serviceclient.h"
#include "waithandle.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <vector>

inline bool PumpUntil(CServiceClient& client, CEvent& pending, const std::function<bool()>& done,
                      std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    CWaitHandle* handles[1] = {&pending};
    for (;;)
    {
        pending.Reset();
        client.ProcessMessages(-1);
        if (done())
            return true;
        const auto left = (end - std::chrono::steady_clock::now()) / std::chrono::milliseconds(1);
        if (left <= 0)
            return false;
        WaitForHandles(handles, 1, static_cast<int>(left));
    }
}

class CEvents : public IServiceClientEvents
{
public:
    bool OnMessagesPending() override
    {
        ++pendings;
        pending.Set();
        return true;
    }
    void OnReceiverStatus(uint32_t id, uint32_t state, const std::u16string& name) override
    {
        log.push_back("receiver " + std::to_string(id) + " " + std::to_string(state) + " " +
                      std::string(name.begin(), name.end()));
        if (state == 2)
            receivers.erase(id);
        else
            receivers.insert(id);
    }
    void OnLogUpdated() override
    {
        log.push_back("log");
        ++logEvents;
    }
    void OnConnected() override
    {
        log.push_back("connected");
        connected = true;
        ++connects;
    }
    void OnDisconnected() override
    {
        log.push_back("disconnected");
        connected = false;
        receivers.clear();
    }

    bool Pump(CServiceClient& client, const std::function<bool()>& done,
              std::chrono::milliseconds deadline = std::chrono::seconds(10))
    {
        return PumpUntil(client, pending, done, deadline);
    }
    bool Saw(const std::string& entry) const
    {
        return std::find(log.begin(), log.end(), entry) != log.end();
    }

    CEvent pending;
    std::atomic<int> pendings = 0;
    std::vector<std::string> log;
    std::set<uint32_t> receivers;
    int logEvents = 0;
    int connects = 0;
    bool connected = false;
};
