#include "tools/qmzip/archive_checker.h"

#include "tools/qmzip/archive_reader.h"
#include "tools/qmzip/entry_workers.h"

namespace qm::qmzip {

Outcome ArchiveChecker::Test(const std::string& archive_path) {
  auto opened = ArchiveReader::Open(archive_path, true);
  if (auto* failure = std::get_if<Failure>(&opened)) return *failure;
  const ArchiveReader& catalogue = *std::get<std::unique_ptr<ArchiveReader>>(opened);

  uint64_t total = 0;
  for (size_t i = 0; i < catalogue.entries().size(); ++i) {
    if (Outcome failure = catalogue.CheckReadable(i)) return failure;
    total += catalogue.entries()[i].size;
  }
  progress_.SetTotal(total);
  Outcome failure = EntryWorkers::Run(archive_path, catalogue, threads_, [this](ArchiveReader& reader, size_t index) {
    return reader.ReadEntry(index, [this](const uint8_t*, size_t length) -> Outcome {
      progress_.Advance(length);
      return std::nullopt;
    });
  });
  if (!failure) progress_.Finish();
  return failure;
}

}  // namespace qm::qmzip
