// SPDX-License-Identifier: MIT
// The service protocol: message identifiers, kinds, log category bits and the service identifier.
// Every service identifier is written as SERVICE_MESSAGE_BASE plus its number, so that the base
// is defined here and nowhere else.
#pragma once

#include <cstdint>

inline constexpr uint8_t MESSAGE_KIND_ONE_WAY = 1;
inline constexpr uint8_t MESSAGE_KIND_REQUEST = 2;
inline constexpr uint8_t MESSAGE_KIND_RESPONSE = 3;

inline constexpr uint32_t REGISTRATION_MESSAGE = 1;
inline constexpr uint32_t SERVICE_MESSAGE_BASE = 5;

inline constexpr uint32_t ClientClosingRequest = SERVICE_MESSAGE_BASE + 1;  // CEmptyRequest -> 7
inline constexpr uint32_t ClientClosingResponse = SERVICE_MESSAGE_BASE + 2; // CEmptyResponse
inline constexpr uint32_t ReceiverStatusEvent = SERVICE_MESSAGE_BASE + 3;   // CReceiverListMessage
inline constexpr uint32_t ReceiverCommand = SERVICE_MESSAGE_BASE + 4;       // CArgumentListMessage
inline constexpr uint32_t GetLogFileRequest = SERVICE_MESSAGE_BASE + 5;     // CEmptyRequest -> 11
inline constexpr uint32_t GetLogFileResponse = SERVICE_MESSAGE_BASE + 6;    // CStringResponse
inline constexpr uint32_t SetLogMaskMessage = SERVICE_MESSAGE_BASE + 7;     // CIntegerListMessage
inline constexpr uint32_t LogUpdatedEvent = SERVICE_MESSAGE_BASE + 8;       // CEmptyMessage
inline constexpr uint32_t GetLogMaskRequest = SERVICE_MESSAGE_BASE + 9;     // CEmptyRequest -> 15
inline constexpr uint32_t GetLogMaskResponse = SERVICE_MESSAGE_BASE + 10;   // CArgumentListResponse
inline constexpr uint32_t ConnectedEvent = SERVICE_MESSAGE_BASE + 11;       // local only
inline constexpr uint32_t DisconnectedEvent = SERVICE_MESSAGE_BASE + 12;    // local only
inline constexpr uint32_t ClearLogMessage = SERVICE_MESSAGE_BASE + 13;      // CEmptyMessage

// Received identifiers are dispatched through a table of this many entries (0 to 18).
inline constexpr uint32_t SERVICE_DISPATCH_TABLE_SIZE = SERVICE_MESSAGE_BASE + 14;

// Log category bits of the service's log mask.
inline constexpr uint32_t LOG_VERBOSE = 0x02;
inline constexpr uint32_t LOG_PROCESSED = 0x04;
inline constexpr uint32_t LOG_RAW = 0x08;
inline constexpr uint32_t LOG_DEBUG = 0x10;

// The service's identifier: looked up on the multicast group and expected as the handshake.
inline constexpr uint8_t SERVICE_IDENTIFIER[16] = {0x3c, 0x91, 0x5e, 0x07, 0xd2, 0x4a, 0x6b, 0x18,
                                                   0x9f, 0x20, 0xc4, 0x73, 0xe8, 0x5d, 0x01, 0xa6};
