// The INI manager: a program's own settings by section and key.
//
// The same calls work on three kinds of storage, chosen by Setup: an INI file
// (NVTYPE 0, FILENAME the file), the per-user registry (NVTYPE 1, FILENAME the
// key path prefix, EXTRADATA the root key) or none at all (NVTYPE 2: fetches
// give empty text, stores do nothing). On top of single values it keeps
// lists (a count and numbered entries of comma-separated fields), the
// sectors loaded by Setup and written back by Finish, and the placement of
// each procedure's window.
//
// No operation reports errors: missing storage or entries give the default,
// and failed writes go unnoticed, because settings must never stop a
// program. Every public operation holds CRITSECT, so windows on several
// threads may share one manager.
#pragma once

#include <charconv>
#include <concepts>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/threads.h"

namespace qm::platform {
class Window;
}

namespace qm {

// One sector: three texts of at most 99 characters. ITEM is kept with every
// "$" tripled, as the sector text carries it.
struct SectorEntry {
  std::string FAMILY;
  std::string ITEM;
  std::string TYPE;
};

// The placement SaveWindow and RestoreWindow work with.
struct WindowPlacement {
  static constexpr std::int32_t kUnset = INT32_MIN;
  std::int32_t X = kUnset;
  std::int32_t Y = kUnset;
  std::int32_t W = kUnset;
  std::int32_t H = kUnset;
  std::uint8_t MAXIMIZED = 0;
  std::uint8_t MINIMIZED = 0;
  std::uint8_t GOT = 0;  // a stored placement was found
};

class IniManager {
 public:
  static constexpr int kStorageIniFile = 0;
  static constexpr int kStorageRegistry = 1;
  static constexpr int kStorageNone = 2;

  // The section and key under which Setup and Finish keep the sectors.
  static constexpr std::string_view kSectorSection = "__Dont_Touch_Me__";
  static constexpr std::string_view kSectorPrefix = "Sectors";

  // FetchList reads at most this many entries, whatever the stored count
  // says: a damaged count must not exhaust memory.
  static constexpr long kMaxListEntries = 10000;

  IniManager() = default;
  virtual ~IniManager() = default;
  IniManager(const IniManager&) = delete;
  IniManager& operator=(const IniManager&) = delete;

  // --- Virtual operations, in the runtime's slot order ---

  // Ends the manager's life at program end. The lock lives as long as the
  // object, so the base has nothing to release.
  virtual void Shutdown();
  // One value, at most 1023 characters. INI file: the entry of `file_name`,
  // or `default_value` when missing. Registry: the value `key` under the key
  // path of `section`; empty gives `default_value`. None: always empty.
  virtual std::string FetchValue(std::string_view section, std::string_view key,
                                 std::string_view default_value, std::string_view file_name);
  // INI file: writes the entry (an empty value as an empty entry). Registry:
  // writes a non-empty value, deletes the value for an empty one. None: nothing.
  virtual void StoreValue(std::string_view section, std::string_view key, std::string_view value,
                          std::string_view file_name);
  // Called by Setup before the sectors are loaded; empty in the base.
  virtual void InitHook();
  // Removes an entry (INI file) or a value (registry).
  virtual void DeleteValue(std::string_view section, std::string_view key);
  // Called by the program's end just before Finish; empty in the base.
  virtual void FinishHook();

  // --- Operations ---

  // Chooses the storage, makes an empty sector list and loads it from
  // storage. `extra_data` 0 for the registry means the root 80000000 hex.
  void Setup(std::string_view file_name, int nv_type, int extra_data);

  // The value, or empty text.
  std::string Fetch(std::string_view section, std::string_view key);

  // Stores text, or a number as its decimal text.
  void Store(std::string_view section, std::string_view key, std::string_view value);
  template <class Number>
    requires((std::integral<Number> || std::floating_point<Number>) && !std::same_as<Number, bool>)
  void Store(std::string_view section, std::string_view key, Number value) {
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, value);
    Store(section, key, std::string_view(text, static_cast<std::size_t>(result.ptr - text)));
  }

  // Reads the entry with the variable's own value as the default. Text is
  // taken as it is; a number is taken when the whole entry is a number that
  // fits the variable, and otherwise the variable keeps its value.
  void FetchInto(std::string_view section, std::string_view key, std::string& variable);
  template <class Number>
    requires((std::integral<Number> || std::floating_point<Number>) && !std::same_as<Number, bool>)
  void FetchInto(std::string_view section, std::string_view key, Number& variable) {
    platform::CriticalSectionGuard guard(CRITSECT);
    char text[64];
    auto written = std::to_chars(text, text + sizeof text, variable);
    std::string_view current(text, static_cast<std::size_t>(written.ptr - text));
    std::string value = FetchValue(section, key, current, FILENAME);
    std::string_view number = Trimmed(value);
    if (!number.empty() && number.front() == '+') number.remove_prefix(1);
    Number parsed{};
    auto read = std::from_chars(number.data(), number.data() + number.size(), parsed);
    if (!number.empty() && read.ec == std::errc() && read.ptr == number.data() + number.size())
      variable = parsed;
  }

  // Field `n` (from 1) of the entry, fields separated by ","; a missing entry
  // reads as "---Unknown---". A field beyond the last is empty text.
  std::string FetchField(std::string_view section, std::string_view key, int n);

  // Lists. `list` is a vector of records and `fields` one to four pointers
  // to their text members. StoreList writes the count under `prefix` and
  // record i (from 1) under prefix "_" i as the fields joined by ","; entries
  // of an earlier, longer list stay. FetchList appends one record per stored
  // entry, without emptying the list first; missing fields are empty.
  template <class Record, class... Fields>
    requires(sizeof...(Fields) >= 1 && sizeof...(Fields) <= 4 &&
             (std::same_as<Fields, std::string Record::*> && ...))
  void StoreList(std::string_view section, std::string_view prefix, const std::vector<Record>& list,
                 Fields... fields) {
    std::vector<std::vector<std::string>> rows;
    rows.reserve(list.size());
    for (const Record& record : list) rows.push_back({(record.*fields)...});
    StoreRows(section, prefix, rows);
  }

  template <class Record, class... Fields>
    requires(sizeof...(Fields) >= 1 && sizeof...(Fields) <= 4 &&
             (std::same_as<Fields, std::string Record::*> && ...))
  void FetchList(std::string_view section, std::string_view prefix, std::vector<Record>& list,
                 Fields... fields) {
    for (std::vector<std::string>& row : FetchRows(section, prefix, sizeof...(Fields))) {
      Record record{};
      std::size_t index = 0;
      ((record.*fields = std::move(row[index++])), ...);
      list.push_back(std::move(record));
    }
  }

  // Sectors. A sector text is FAMILY "$" ITEM "$$" TYPE, with every "$" of
  // ITEM tripled. AddSector adds the sector unless an equal one is there;
  // FindSectors replaces `result` with every sector matching the given
  // texts (empty matches anything; `item` is given plainly), its ITEM
  // given back plainly.
  void AddSector(std::string_view sector_text);
  static std::string MakeSectorText(std::string_view family, std::string_view item,
                                    std::string_view type);
  void FindSectors(std::string_view family, std::string_view item, std::string_view type,
                   std::vector<SectorEntry>& result);

  // Window placement under the section `procedure_name`: "Maximize",
  // "Minimize" ("Yes"/"No"), "XPos", "YPos", "Width", "Height". A window
  // saved maximized or minimized loses its stored position and size. A
  // section without "Yes" or "No" under "Maximize" leaves the window as it
  // is; a window is never restored minimized by "Minimize" "Yes".
  void SaveWindow(std::string_view procedure_name, platform::Window& window);
  void RestoreWindow(std::string_view procedure_name, platform::Window& window);

  // Writes the sectors back and drops the list. Called at program end.
  void Finish();

  // Fields, in the runtime's order.
  std::string FILENAME;                         // Protected by CRITSECT
  std::unique_ptr<std::vector<SectorEntry>> SECTORS;  // Protected by CRITSECT; sorted
  std::int32_t NVTYPE = kStorageIniFile;        // Protected by CRITSECT
  std::int32_t EXTRADATA = 0;                   // Protected by CRITSECT
  platform::CriticalSection CRITSECT;

 private:
  static std::string_view Trimmed(std::string_view text);
  void StoreRows(std::string_view section, std::string_view prefix,
                 const std::vector<std::vector<std::string>>& rows);
  std::vector<std::vector<std::string>> FetchRows(std::string_view section, std::string_view prefix,
                                                  std::size_t field_count);
  std::uint32_t RootKey() const;
  std::string KeyPath(std::string_view section) const;
};

}  // namespace qm
