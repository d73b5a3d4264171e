// The extended-timestamp extra field (0x5455): the modification time in UTC seconds,
// which unzip tools honour and which keeps file times exact and free of the local time
// zone, unlike the 2-second local time of the entry header.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>

namespace qm::qmzip {

constexpr uint16_t kTimestampFieldId = 0x5455;
constexpr uint16_t kTimestampFieldSize = 5;

inline std::array<uint8_t, kTimestampFieldSize> TimestampField(time_t mtime) {
  const auto seconds = static_cast<uint32_t>(mtime);
  return {1, static_cast<uint8_t>(seconds), static_cast<uint8_t>(seconds >> 8), static_cast<uint8_t>(seconds >> 16),
          static_cast<uint8_t>(seconds >> 24)};
}

// The modification time of a field whose first flag bit says it holds one.
inline std::optional<time_t> ParseTimestampField(const uint8_t* data, uint16_t length) {
  if (data == nullptr || length < kTimestampFieldSize || (data[0] & 1) == 0) return std::nullopt;
  const uint32_t seconds = uint32_t{data[1]} | uint32_t{data[2]} << 8 | uint32_t{data[3]} << 16 | uint32_t{data[4]} << 24;
  return static_cast<time_t>(seconds);
}

}  // namespace qm::qmzip
