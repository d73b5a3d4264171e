// Per-thread globals that carry requests and responses between the
// procedures of one logical thread. Each thread's values start at 0.
#pragma once

#include <cstdint>

namespace qm {

// Request codes.
inline constexpr std::uint8_t RequestNone = 0;
inline constexpr std::uint8_t RequestInsert = 1;
inline constexpr std::uint8_t RequestChange = 2;
inline constexpr std::uint8_t RequestDelete = 3;
inline constexpr std::uint8_t RequestSelect = 4;
inline constexpr std::uint8_t RequestPrint = 5;
inline constexpr std::uint8_t RequestView = 6;
inline constexpr std::uint8_t RequestSave = 7;

// Response codes.
inline constexpr std::uint8_t ResponseCompleted = 1;
inline constexpr std::uint8_t ResponseCancelled = 2;

// The request for the next procedure called on this thread.
std::uint8_t& PendingRequest();
// The response of the last procedure that returned on this thread.
std::uint8_t& LastResponse();
// The toolbar's pending navigation request on this thread.
std::int32_t& NavigationRequest();

}  // namespace qm
