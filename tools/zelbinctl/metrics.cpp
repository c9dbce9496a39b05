// SPDX-License-Identifier: MIT
// The service's figures in Prometheus' text format.

#include "metrics.h"

#include <sstream>

void CServiceMetrics::OnConnected()
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_bConnected = true;
    ++m_iConnections;
}

void CServiceMetrics::OnDisconnected()
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_bConnected = false;
    m_states.clear();
}

void CServiceMetrics::OnReceiverStatus(uint32_t iReceiverID, uint32_t iState)
{
    std::lock_guard<std::mutex> g(m_mutex);
    ++m_iStatusEvents;
    m_lastEvent = Clock::now();
    // A receiver that is gone is no longer counted, in any state.
    constexpr uint32_t STATE_GONE = 2;
    if (iState == STATE_GONE)
        m_states.erase(iReceiverID);
    else
        m_states[iReceiverID] = iState;
}

void CServiceMetrics::OnLogUpdated()
{
    std::lock_guard<std::mutex> g(m_mutex);
    ++m_iLogNotices;
    m_lastEvent = Clock::now();
}

void CServiceMetrics::OnRoundTrip(double seconds)
{
    std::lock_guard<std::mutex> g(m_mutex);
    for (size_t i = 0; i < ROUND_TRIP_BUCKETS.size(); ++i)
        if (seconds <= ROUND_TRIP_BUCKETS[i])
            ++m_buckets[i];
    ++m_iRoundTrips;
    m_roundTripSeconds += seconds;
}

void CServiceMetrics::SetLogFileSize(int64_t iBytes)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_iLogBytes = iBytes;
}

std::string CServiceMetrics::Render(Clock::time_point now) const
{
    std::lock_guard<std::mutex> g(m_mutex);
    std::ostringstream out;
    const auto metric = [&](const char* name, const char* type, const char* help)
    { out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n'; };
    metric("zelbin_service_connected", "gauge",
           "Whether zelbinctl is connected to the receiver service (1) or not (0).");
    out << "zelbin_service_connected " << (m_bConnected ? 1 : 0) << '\n';
    metric("zelbin_receivers", "gauge", "Receivers the service reports, by their state.");
    std::map<uint32_t, int> byState = {{1, 0}}; // the usual state is always there, if at 0
    for (const auto& [iReceiver, iState] : m_states)
        ++byState[iState];
    for (const auto& [iState, n] : byState)
        out << "zelbin_receivers{state=\"" << iState << "\"} " << n << '\n';
    metric("zelbin_receiver_status_events_total", "counter",
           "Receiver status events received from the service.");
    out << "zelbin_receiver_status_events_total " << m_iStatusEvents << '\n';
    metric("zelbin_log_notices_total", "counter", "Log-updated notices received from the service.");
    out << "zelbin_log_notices_total " << m_iLogNotices << '\n';
    metric("zelbin_reconnections_total", "counter",
           "Connections to the service after the first one.");
    out << "zelbin_reconnections_total " << (m_iConnections ? m_iConnections - 1 : 0) << '\n';
    metric("zelbin_last_event_age_seconds", "gauge",
           "Seconds since the last event from the service (since zelbinctl started, before one).");
    out << "zelbin_last_event_age_seconds "
        << std::chrono::duration<double>(now - m_lastEvent.value_or(m_start)).count() << '\n';
    if (m_iLogBytes >= 0)
    {
        metric("zelbin_log_file_size_bytes", "gauge", "Size of the service's log file.");
        out << "zelbin_log_file_size_bytes " << m_iLogBytes << '\n';
    }
    metric("zelbin_request_round_trip_seconds", "histogram",
           "Round trip of a GetLogMask request to the service.");
    for (size_t i = 0; i < ROUND_TRIP_BUCKETS.size(); ++i)
        out << "zelbin_request_round_trip_seconds_bucket{le=\"" << ROUND_TRIP_BUCKETS[i] << "\"} "
            << m_buckets[i] << '\n';
    out << "zelbin_request_round_trip_seconds_bucket{le=\"+Inf\"} " << m_iRoundTrips << '\n'
        << "zelbin_request_round_trip_seconds_sum " << m_roundTripSeconds << '\n'
        << "zelbin_request_round_trip_seconds_count " << m_iRoundTrips << '\n';
    return out.str();
}
