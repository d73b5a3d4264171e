// The checker's per-file managers: one file manager and one relation manager
// for each of the dictionary's eighteen files, built alike from the
// dictionary's declarations.
//
// A thread's CheckerFiles holds its pairs. Start builds them in the start-up
// order (each file manager set up, each relation manager attached with
// logout framing); Stop shuts them down and frees them in the same order.
// Every logical thread that uses the data files starts its own set first and
// stops it at its end: the record buffers and managers are the thread's own.
//
// A file manager is attached and gets its keys at its first use, not at
// Start. The alias TdI01A carries out its record operations on TdI01's
// manager; BvS01 is named in messages by GLO:SYSTEMFILENAME; TdV05 checks
// that an account's analysis number is found in TdV03.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "checker/data_dictionary.h"
#include "framework/files/file_manager.h"
#include "framework/files/relation_manager.h"

namespace qm {
class ErrorManager;
}

namespace qm::checker {

class CheckerFiles;

// The field check of TdV05 that looks the analysis number up.
inline constexpr int kAnalysisNumberField = 3;
inline constexpr std::uint16_t kMsgFieldNotFound = 18;

class DictionaryFileManager : public FileManager {
 public:
  DictionaryFileManager(DictionaryFile id, CheckerFiles& files, ErrorManager& errors);

  void Setup() override;
  void ReleaseResources() override;
  ErrorLevel Open() override;
  ErrorLevel EnsureOpen(int usage) override;
  ErrorLevel CheckField(int number, bool report) override;

  DictionaryFile Id() const { return id_; }

 private:
  // BvS01's messages name the file by the current GLO:SYSTEMFILENAME.
  void RefreshSystemFileName();
  ErrorLevel CheckAnalysisNumber(bool report);

  DictionaryFile id_;
  CheckerFiles& files_;
  ErrorManager& errors_;
  std::string system_file_name_;
};

class DictionaryRelationManager : public RelationManager {
 public:
  DictionaryRelationManager(DictionaryFile id, CheckerFiles& files, ErrorManager& errors);

  void Shutdown() override;
  void DeclareRelations() override;

  DictionaryFileManager& Files() { return *file_manager_; }

 private:
  DictionaryFile id_;
  CheckerFiles& files_;
  std::unique_ptr<DictionaryFileManager> file_manager_;  // owned: freed by Shutdown
};

class CheckerFiles {
 public:
  CheckerFiles() = default;
  ~CheckerFiles();
  CheckerFiles(const CheckerFiles&) = delete;
  CheckerFiles& operator=(const CheckerFiles&) = delete;

  // The calling logical thread's set.
  static CheckerFiles& Thread();
  // Stop, then forget the calling thread's set and its record files.
  static void ReleaseThread();

  // Builds and attaches every pair; a second Start does nothing.
  void Start(ErrorManager& errors);
  // Shuts every pair down and frees it; a second Stop does nothing.
  void Stop();

  // The file's access reference and relation reference: null before Start
  // and after Stop (the access reference also once its manager released).
  FileManager* Access(DictionaryFile file) const { return access_[Index(file)]; }
  RelationManager* Relations(DictionaryFile file) const { return relations_[Index(file)].get(); }

  // The order of the start-up and tear-down.
  static const std::array<DictionaryFile, kDictionaryFileCount>& StartOrder();

 private:
  friend class DictionaryFileManager;
  friend class DictionaryRelationManager;
  static std::size_t Index(DictionaryFile file) { return static_cast<std::size_t>(file); }

  std::array<FileManager*, kDictionaryFileCount> access_{};
  std::array<std::unique_ptr<DictionaryRelationManager>, kDictionaryFileCount> relations_{};
};

}  // namespace qm::checker
