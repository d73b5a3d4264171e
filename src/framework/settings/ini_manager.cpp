#include "framework/settings/ini_manager.h"

#include <algorithm>
#include <tuple>

#include "platform/events.h"
#include "platform/ini_file.h"
#include "platform/registry.h"
#include "platform/window.h"

namespace qm {
namespace {

constexpr std::size_t kMaxValueLength = 1023;
constexpr std::size_t kMaxFieldEntryLength = 999;
constexpr std::size_t kMaxListEntryLength = 4999;
constexpr std::size_t kMaxSectorPartLength = 99;
constexpr std::string_view kUnknownEntry = "---Unknown---";
constexpr std::uint32_t kDefaultRootKey = 0x80000000;

std::string Cut(std::string text, std::size_t length) {
  if (text.size() > length) text.resize(length);
  return text;
}

// Comma field `n` (from 1) of `text`; empty when there are fewer fields.
std::string CommaField(std::string_view text, std::size_t n) {
  std::size_t start = 0;
  for (std::size_t field = 1; field < n; ++field) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) return {};
    start = comma + 1;
  }
  std::size_t end = text.find(',', start);
  return std::string(text.substr(start, end == std::string_view::npos ? text.size() - start : end - start));
}

std::string Tripled(std::string_view item) {
  std::string tripled;
  for (char character : item) {
    if (character == '$') {
      tripled += "$$$";
    } else {
      tripled += character;
    }
  }
  return tripled;
}

std::string Untripled(std::string_view item) {
  std::string plain;
  for (std::size_t i = 0; i < item.size(); ++i) {
    plain += item[i];
    if (item.compare(i, 3, "$$$") == 0) i += 2;
  }
  return plain;
}

auto SortKey(const SectorEntry& entry) { return std::tie(entry.FAMILY, entry.ITEM, entry.TYPE); }

bool Matches(std::string_view wanted, std::string_view value) { return wanted.empty() || wanted == value; }

}  // namespace

void IniManager::Shutdown() {}

std::string IniManager::FetchValue(std::string_view section, std::string_view key,
                                   std::string_view default_value, std::string_view file_name) {
  platform::CriticalSectionGuard guard(CRITSECT);
  switch (NVTYPE) {
    case kStorageIniFile:
      return Cut(platform::IniFile(std::string(file_name)).Get(section, key, default_value), kMaxValueLength);
    case kStorageRegistry: {
      std::string value = platform::Registry::ForUser().Get(RootKey(), KeyPath(section), key);
      return Cut(value.empty() ? std::string(default_value) : std::move(value), kMaxValueLength);
    }
    default:
      return {};
  }
}

void IniManager::StoreValue(std::string_view section, std::string_view key, std::string_view value,
                            std::string_view file_name) {
  platform::CriticalSectionGuard guard(CRITSECT);
  switch (NVTYPE) {
    case kStorageIniFile:
      platform::IniFile(std::string(file_name)).Put(section, key, value);
      break;
    case kStorageRegistry:
      if (value.empty()) {
        DeleteValue(section, key);
      } else {
        platform::Registry::ForUser().Put(RootKey(), KeyPath(section), key, value);
      }
      break;
    default:
      break;
  }
}

void IniManager::InitHook() {}

void IniManager::DeleteValue(std::string_view section, std::string_view key) {
  platform::CriticalSectionGuard guard(CRITSECT);
  switch (NVTYPE) {
    case kStorageIniFile:
      platform::IniFile(FILENAME).Delete(section, key);
      break;
    case kStorageRegistry:
      platform::Registry::ForUser().Delete(RootKey(), KeyPath(section), key);
      break;
    default:
      break;
  }
}

void IniManager::FinishHook() {}

void IniManager::Setup(std::string_view file_name, int nv_type, int extra_data) {
  platform::CriticalSectionGuard guard(CRITSECT);
  FILENAME = std::string(file_name);
  NVTYPE = nv_type;
  EXTRADATA = extra_data;
  SECTORS = std::make_unique<std::vector<SectorEntry>>();
  InitHook();
  FetchList(kSectorSection, kSectorPrefix, *SECTORS, &SectorEntry::FAMILY, &SectorEntry::ITEM,
            &SectorEntry::TYPE);
  for (SectorEntry& entry : *SECTORS) {
    entry.FAMILY = Cut(std::move(entry.FAMILY), kMaxSectorPartLength);
    entry.ITEM = Cut(std::move(entry.ITEM), kMaxSectorPartLength);
    entry.TYPE = Cut(std::move(entry.TYPE), kMaxSectorPartLength);
  }
  auto by_key = [](const SectorEntry& left, const SectorEntry& right) { return SortKey(left) < SortKey(right); };
  auto same = [](const SectorEntry& left, const SectorEntry& right) { return SortKey(left) == SortKey(right); };
  std::sort(SECTORS->begin(), SECTORS->end(), by_key);
  SECTORS->erase(std::unique(SECTORS->begin(), SECTORS->end(), same), SECTORS->end());
}

std::string IniManager::Fetch(std::string_view section, std::string_view key) {
  platform::CriticalSectionGuard guard(CRITSECT);
  return FetchValue(section, key, {}, FILENAME);
}

void IniManager::Store(std::string_view section, std::string_view key, std::string_view value) {
  platform::CriticalSectionGuard guard(CRITSECT);
  StoreValue(section, key, value, FILENAME);
}

void IniManager::FetchInto(std::string_view section, std::string_view key, std::string& variable) {
  platform::CriticalSectionGuard guard(CRITSECT);
  variable = FetchValue(section, key, variable, FILENAME);
}

std::string IniManager::FetchField(std::string_view section, std::string_view key, int n) {
  platform::CriticalSectionGuard guard(CRITSECT);
  if (n < 1) return {};
  std::string entry = Cut(FetchValue(section, key, kUnknownEntry, FILENAME), kMaxFieldEntryLength);
  return CommaField(entry, static_cast<std::size_t>(n));
}

void IniManager::StoreRows(std::string_view section, std::string_view prefix,
                           const std::vector<std::vector<std::string>>& rows) {
  platform::CriticalSectionGuard guard(CRITSECT);
  Store(section, prefix, rows.size());
  std::size_t number = 0;
  for (const std::vector<std::string>& row : rows) {
    std::string value;
    for (std::size_t field = 0; field < row.size(); ++field) {
      if (field > 0) value += ',';
      value += row[field];
    }
    Store(section, std::string(prefix) + "_" + std::to_string(++number), Cut(std::move(value), kMaxListEntryLength));
  }
}

std::vector<std::vector<std::string>> IniManager::FetchRows(std::string_view section, std::string_view prefix,
                                                            std::size_t field_count) {
  platform::CriticalSectionGuard guard(CRITSECT);
  long count = 0;
  FetchInto(section, prefix, count);
  count = std::clamp(count, 0L, kMaxListEntries);
  std::vector<std::vector<std::string>> rows;
  for (long number = 1; number <= count; ++number) {
    std::string entry = Fetch(section, std::string(prefix) + "_" + std::to_string(number));
    std::vector<std::string> row;
    for (std::size_t field = 1; field <= field_count; ++field) row.push_back(CommaField(entry, field));
    rows.push_back(std::move(row));
  }
  return rows;
}

// FAMILY runs to the first "$"; the item runs to the first "$$" that is not
// part of a tripled "$", and TYPE is the rest.
void IniManager::AddSector(std::string_view sector_text) {
  platform::CriticalSectionGuard guard(CRITSECT);
  if (!SECTORS) return;
  SectorEntry entry;
  std::size_t family_end = sector_text.find('$');
  entry.FAMILY = std::string(sector_text.substr(0, family_end));
  if (family_end != std::string_view::npos) {
    std::size_t item_start = family_end + 1;
    std::size_t search = item_start;
    std::size_t item_end = std::string_view::npos;
    while ((item_end = sector_text.find("$$", search)) != std::string_view::npos &&
           item_end + 2 < sector_text.size() && sector_text[item_end + 2] == '$') {
      search = item_end + 3;
    }
    if (item_end == std::string_view::npos) {
      entry.ITEM = std::string(sector_text.substr(item_start));
    } else {
      entry.ITEM = std::string(sector_text.substr(item_start, item_end - item_start));
      entry.TYPE = std::string(sector_text.substr(item_end + 2));
    }
  }
  entry.FAMILY = Cut(std::move(entry.FAMILY), kMaxSectorPartLength);
  entry.ITEM = Cut(std::move(entry.ITEM), kMaxSectorPartLength);
  entry.TYPE = Cut(std::move(entry.TYPE), kMaxSectorPartLength);
  auto place = std::lower_bound(SECTORS->begin(), SECTORS->end(), entry,
                                [](const SectorEntry& left, const SectorEntry& right) {
                                  return SortKey(left) < SortKey(right);
                                });
  if (place != SECTORS->end() && SortKey(*place) == SortKey(entry)) return;
  SECTORS->insert(place, std::move(entry));
}

std::string IniManager::MakeSectorText(std::string_view family, std::string_view item, std::string_view type) {
  return std::string(family) + "$" + Tripled(item) + "$$" + std::string(type);
}

void IniManager::FindSectors(std::string_view family, std::string_view item, std::string_view type,
                             std::vector<SectorEntry>& result) {
  platform::CriticalSectionGuard guard(CRITSECT);
  result.clear();
  if (!SECTORS) return;
  for (const SectorEntry& entry : *SECTORS) {
    std::string plain_item = Untripled(entry.ITEM);
    if (Matches(family, entry.FAMILY) && Matches(item, plain_item) && Matches(type, entry.TYPE))
      result.push_back(SectorEntry{entry.FAMILY, std::move(plain_item), entry.TYPE});
  }
}

void IniManager::SaveWindow(std::string_view procedure_name, platform::Window& window) {
  platform::CriticalSectionGuard guard(CRITSECT);
  WindowPlacement placement;
  placement.MAXIMIZED = window.PropertyNumber(platform::kPropMaximize) != 0;
  placement.MINIMIZED = window.PropertyNumber(platform::kPropIconize) != 0;
  if (!placement.MAXIMIZED && !placement.MINIMIZED) {
    placement.X = window.PropertyNumber(platform::kPropXPos);
    placement.Y = window.PropertyNumber(platform::kPropYPos);
    if (!window.Property(platform::kPropResize).empty()) {
      placement.W = window.PropertyNumber(platform::kPropWidth);
      placement.H = window.PropertyNumber(platform::kPropHeight);
    }
  }
  Store(procedure_name, "Maximize", placement.MAXIMIZED ? "Yes" : "No");
  Store(procedure_name, "Minimize", placement.MINIMIZED ? "Yes" : "No");
  const std::pair<std::string_view, std::int32_t> measures[] = {
      {"XPos", placement.X}, {"YPos", placement.Y}, {"Width", placement.W}, {"Height", placement.H}};
  for (const auto& [key, value] : measures) {
    if (value == WindowPlacement::kUnset) {
      DeleteValue(procedure_name, key);
    } else {
      Store(procedure_name, key, value);
    }
  }
}

// An unset position is not applied: it would put the window far off the
// screen, where the user could not reach it.
void IniManager::RestoreWindow(std::string_view procedure_name, platform::Window& window) {
  platform::CriticalSectionGuard guard(CRITSECT);
  WindowPlacement placement;
  std::string maximize = Fetch(procedure_name, "Maximize");
  if (maximize != "No" && maximize != "Yes") return;
  placement.GOT = 1;
  placement.MAXIMIZED = maximize == "Yes";
  FetchInto(procedure_name, "Minimize", placement.MINIMIZED);
  FetchInto(procedure_name, "XPos", placement.X);
  FetchInto(procedure_name, "YPos", placement.Y);
  FetchInto(procedure_name, "Width", placement.W);
  FetchInto(procedure_name, "Height", placement.H);

  if (window.PropertyNumber(platform::kPropMaximize) != 0 && !placement.MAXIMIZED)
    window.SetProperty(platform::kPropMaximize, 0L);
  if (placement.X != WindowPlacement::kUnset) window.SetProperty(platform::kPropXPos, long{placement.X});
  if (placement.Y != WindowPlacement::kUnset) window.SetProperty(platform::kPropYPos, long{placement.Y});
  if (!window.Property(platform::kPropResize).empty()) {
    if (placement.W != WindowPlacement::kUnset) window.SetProperty(platform::kPropWidth, long{placement.W});
    if (placement.H != WindowPlacement::kUnset) window.SetProperty(platform::kPropHeight, long{placement.H});
  }
  if (placement.MAXIMIZED && window.PropertyNumber(platform::kPropMaximize) == 0)
    window.SetProperty(platform::kPropMaximize, 1L);
  window.SetProperty(platform::kPropIconize, long{placement.MINIMIZED});
}

void IniManager::Finish() {
  platform::CriticalSectionGuard guard(CRITSECT);
  if (!SECTORS) return;
  StoreList(kSectorSection, kSectorPrefix, *SECTORS, &SectorEntry::FAMILY, &SectorEntry::ITEM,
            &SectorEntry::TYPE);
  SECTORS.reset();
}

std::string_view IniManager::Trimmed(std::string_view text) {
  std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  std::size_t end = text.find_last_not_of(" \t");
  return text.substr(start, end - start + 1);
}

std::uint32_t IniManager::RootKey() const {
  return EXTRADATA == 0 ? kDefaultRootKey : static_cast<std::uint32_t>(EXTRADATA);
}

std::string IniManager::KeyPath(std::string_view section) const {
  return FILENAME.empty() ? std::string(section) : FILENAME + "\\" + std::string(section);
}

}  // namespace qm
