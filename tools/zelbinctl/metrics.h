// SPDX-License-Identifier: MIT
// The service's figures for Prometheus: zelbinctl metrics keeps them from the service client's
// events and a periodic GetLogMask, and renders them in Prometheus' text format, for its own
// /metrics page or for node_exporter's textfile collector. Safe to read from another thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

class CServiceMetrics
{
public:
    using Clock = std::chrono::steady_clock;
    // Upper bounds of the round trip's histogram buckets, in seconds.
    static constexpr std::array<double, 12> ROUND_TRIP_BUCKETS = {
        0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 10};

    void OnConnected();
    // The receivers go with the connection, as in the window.
    void OnDisconnected();
    void OnReceiverStatus(uint32_t iReceiverID, uint32_t iState);
    void OnLogUpdated();
    void OnRoundTrip(double seconds);
    // -1: the size is not known (no service, or a log file that cannot be read).
    void SetLogFileSize(int64_t iBytes);
    std::string Render(Clock::time_point now = Clock::now()) const;

private:
    mutable std::mutex m_mutex;
    bool m_bConnected = false;
    uint64_t m_iConnections = 0;
    std::map<uint32_t, uint32_t> m_states; // receiver identifier -> state
    uint64_t m_iStatusEvents = 0;
    uint64_t m_iLogNotices = 0;
    Clock::time_point m_start = Clock::now();
    std::optional<Clock::time_point> m_lastEvent;
    std::array<uint64_t, ROUND_TRIP_BUCKETS.size()> m_buckets{};
    uint64_t m_iRoundTrips = 0;
    double m_roundTripSeconds = 0;
    int64_t m_iLogBytes = -1;
};
