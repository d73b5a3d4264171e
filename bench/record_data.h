// Bytes shaped like the product's keyed record files: fixed-size records of numbers,
// day-number dates, blank-padded names and amounts, with the repetition real data has.
// Deterministic for a given seed, so every run measures the same data.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

namespace qm::bench {

inline std::string RecordData(size_t bytes, uint32_t seed) {
  static const char* const kWords[] = {"TRACTOR",    "HARVESTER",    "BALER",    "SPRAYER",    "PLOUGH",
                                       "TRAILER",    "MOWER",        "SEEDER",   "OIL FILTER", "HYDRAULIC HOSE",
                                       "BEARING",    "TYRE 18.4-38", "SERVICE",  "REPAIR",     "INSPECTION",
                                       "WELDING",    "NORTH FARM",   "HILLSIDE", "RIVERSIDE",  "OAK LODGE",
                                       "SMITH",      "JONES",        "BROWN",    "TAYLOR",     "WILSON"};
  constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];
  constexpr size_t kRecordSize = 212;
  std::mt19937 random(seed);
  std::string data(bytes, '\0');
  char record[kRecordSize];
  uint32_t number = 1000;
  int32_t day = 80000;
  for (size_t at = 0; at < bytes; at += kRecordSize) {
    std::fill(record, record + kRecordSize, ' ');
    ++number;
    if (random() % 4 == 0) ++day;
    const uint32_t farm = random() % 40;
    std::memcpy(record, &number, 4);
    std::memcpy(record + 4, &day, 4);
    std::memcpy(record + 8, &farm, 4);
    for (size_t field = 0; field < 4; ++field) {
      const char* word = kWords[random() % kWordCount];
      std::memcpy(record + 12 + field * 40, word, std::strlen(word));
    }
    const double amount = (random() % 100000) / 100.0;
    const float hours = (random() % 80) / 4.0f;
    std::memcpy(record + 172, &amount, 8);
    std::memcpy(record + 180, &hours, 4);
    std::fill(record + 184, record + kRecordSize, '\0');
    std::memcpy(data.data() + at, record, std::min(kRecordSize, bytes - at));
  }
  return data;
}

}  // namespace qm::bench
