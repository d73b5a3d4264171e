// RelationManager: sits on one FileManager (ME) and knows the file's
// relations to other files. It opens and closes the file together with every
// file related to it, keeps referential integrity when a record's linking
// fields change or the record is deleted (restrict, clear or cascade, per
// relation and separately for update and delete, to any depth), and frames
// each insert, update or delete with all its dependent changes in one
// transaction over every file the change may write.
//
// A program derives one class per file whose DeclareRelations registers the
// relations (RegisterRelation, then AddLinkPair for each linking field). It
// runs once, the first time the relations are needed.
//
// Traversals over the relations (open, close, quick scan) visit each manager
// once even when the relations form cycles: a top-level call starts a new
// pass of a program-wide counter and every visited manager keeps it in
// LASTTOUCHED.
//
// Framed changes: every failure inside one rolls the transaction back, so
// every file involved is left as it was before the change, and the message
// is shown after the rollback (except what the file manager's own Insert
// shows). A file whose driver has no transactions (runtime error 80) turns
// framing off for its manager (USELOGOUT) and is changed unframed. The
// linking values that Update compares with are those SaveLinkValues kept:
// call it after reading the record to be changed.
//
// A manager is used by one thread, like its file manager.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/errors/error_level.h"
#include "framework/files/buffered_pairs.h"
#include "framework/files/file_manager.h"

namespace qm {

// Integrity modes of a relation, for updates and deletes; 1 to 3 are active.
inline constexpr std::uint8_t ModeNone = 0;
inline constexpr std::uint8_t ModeClear = 1;     // the related records' linking fields are cleared
inline constexpr std::uint8_t ModeRestrict = 2;  // refused while related records exist
inline constexpr std::uint8_t ModeCascade = 3;   // the related records follow

// Error ids of the message table that the relation manager raises.
inline constexpr std::uint16_t kMsgRecordChangedShown = 8;
inline constexpr std::uint16_t kMsgTransactionCancelled = 27;
inline constexpr std::uint16_t kMsgDeleteRestricted = 36;
inline constexpr std::uint16_t kMsgUpdateRestricted = 37;
inline constexpr std::uint16_t kMsgDeleteRetry = 39;

class RelationManager;

struct RelationEntry {
  RelationManager* FILE = nullptr;        // the related file's manager
  std::unique_ptr<BufferedPairs> FIELDS;  // linking fields; none for a lookup
  int HISKEY = 0;  // the related file's key led by the linking fields; 0 for a lookup
  std::uint8_t UPDATEMODE = ModeNone;
  std::uint8_t DELETEMODE = ModeNone;
  std::uint8_t OPENED = 0;  // opens of the related file made through this entry, still outstanding
};

class RelationManager {
 public:
  RelationManager() = default;
  virtual ~RelationManager();  // unregisters from the registry
  RelationManager(const RelationManager&) = delete;
  RelationManager& operator=(const RelationManager&) = delete;

  // Removes a record that automatic numbering pre-added and no insert
  // completed, through Delete so that related records follow.
  virtual ErrorLevel UndoNumbering();
  // Closes ME and every file opened through a relation. Answers the first
  // non-zero level met.
  virtual ErrorLevel CloseRelations(bool nested = false);
  // Deletes the current record with integrity, asking "Confirm Delete"
  // first when `confirm` (4 for No). A failed attempt asks "Record Delete
  // Error" whether to try again; No answers the attempt's level.
  virtual ErrorLevel Delete(bool confirm = true);
  // On the related file's manager when a parent record is deleted: finds
  // the records whose linking fields equal the parent's (`pairs`, LEFT the
  // parent's fields) through `key` and refuses, clears or deletes them by
  // `mode`. Answers 0, or 5 after the failure has been reported and the
  // transaction rolled back. The file's position and record are kept.
  virtual ErrorLevel ApplyDelete(int key, BufferedPairs& pairs, std::uint8_t mode, bool confirm);
  // Unregisters from the registry and disposes of the relations.
  virtual void Shutdown();
  // Opens ME and all related files; a top-level call also opens ME
  // physically. With FORCINGOPEN set, or when ME is not lazily opened, the
  // related files are opened physically too, through every level. Answers
  // the first non-zero level met; what was opened stays open.
  virtual ErrorLevel OpenRelations(bool nested = false);
  // Keeps the linking values of the record just read (BUFFER := LEFT).
  virtual void SaveLinkValues();
  // Switches the driver's quick scan of ME's file on or off when it is
  // open. `propagate` passes it on through the relations: 1 only lookups
  // (no HISKEY), 2 only relations with HISKEY, any other non-zero value all.
  virtual void SetQuickScan(bool on, int propagate = 0);
  // Inserts ME's record; framed only with USELOGOUT and USELOGOUTONINSERT.
  // A failed framed insert answers 5 when ME.LASTERROR is 7 or 8 and 1
  // otherwise; its message is the file manager's, shown once.
  virtual ErrorLevel Insert();
  // Writes ME's record back and applies the changes of its linking values
  // to the related records. On failure the linking fields of the relation
  // that refused go back to their old values. A failure of ME's own write
  // answers 5 when ME.LASTERROR is 7 or 8 (reported; with fromForm as 8)
  // and 1 otherwise.
  virtual ErrorLevel Update(bool fromForm = false);
  // On the related file's manager when a parent's linking values change:
  // the records holding the parent's old values (`pairs` BUFFER) are
  // refused, cleared or given the new values (LEFT) by `mode`. Answers 0, or
  // 5 as ApplyDelete; a refusal puts the parent's old values back into its
  // linking fields.
  virtual ErrorLevel ApplyUpdate(int key, BufferedPairs& pairs, std::uint8_t mode);
  // Registers the file's relations; empty here.
  virtual void DeclareRelations();

  // Binds the manager to its file manager, which must have run Setup, and
  // registers it under that file.
  void Attach(FileManager& fileManager, bool useLogout);
  // A lookup: a file this file refers to, opened with it.
  void RegisterRelation(RelationManager& related);
  // A one-to-many relation to `related`, whose key `hisKey` (its number in
  // the related file's declaration) leads with the linking fields.
  void RegisterRelation(RelationManager& related, std::uint8_t updateMode, std::uint8_t deleteMode,
                        int hisKey);
  // Adds a linking pair (this file's field, the related file's field) to the
  // last registered relation: texts given by address and length, signed
  // 32-bit numbers given by address, or any two field references.
  void AddLinkPair(std::uint8_t* left, std::size_t leftLength, std::uint8_t* right, std::size_t rightLength);
  void AddLinkPair(std::uint8_t* left, std::uint8_t* right);
  void AddLinkPair(const FieldReference& left, const FieldReference& right);

  FileManager* ME = nullptr;
  std::vector<RelationEntry> RELATIONS;
  RelationManager* ALIASFILE = nullptr;  // the manager of the file this one is an alias of
  bool PREVUSELOGOUT = false;
  bool USELOGOUT = false;
  bool USELOGOUTONINSERT = false;
  std::uint8_t LOGOUTTIMEOUT = 2;  // seconds to wait for the files' write locks
  std::int32_t LASTTOUCHED = 0;
  bool FORCINGOPEN = false;
  bool DEFEREDRELATIONSDONE = false;

 // Runs DeclareRelations unless it has run.
  void DeclareOnce();
  // The file this manager's changes write: the aliased file for an alias.
  platform::RecordFile* WrittenFile() const;

 protected:
  // OpenRelations forcing the related files open, for a change. A failure
  // closes again what it opened.
  ErrorLevel OpenForChange();
  // One attempt of Delete after the confirmation.
  ErrorLevel DeleteAttempt();
  // Deletes the record of a related file reached by a cascading delete: its
  // own relations follow first. Answers 0 or 5.
  ErrorLevel DeleteWithIntegrity(bool confirm);
  // Writes the record of a related file changed by integrity: its own
  // relations follow first, then ME's quiet update. Answers 0 or 5.
  ErrorLevel WriteWithIntegrity();
  // Positions ME before the records whose leading `key` components equal
  // the `linking_fields` set in the record buffer (all records in record
  // order without a key). Answers 0, or 5 after a report.
  ErrorLevel StartRelatedScan(int key, std::size_t linking_fields);
  // Reads the next record of the scan: 0, with `*done` set at the end of
  // the file; 5 after a read error has been reported.
  ErrorLevel NextRelated(bool* done);
  // After a rollback undid ME's write, reads the record at `position` again
  // so that the next write is not taken for another station's change; the
  // record buffer stays as it is.
  void ReadBackAfterRollback(const std::string& position);
  // The walk of ApplyUpdate and ApplyDelete: `prepare` sets the linking
  // values, then every record of the scan that `matches` gets `act` until
  // it answers other than 0 or sets `*stop`. ME's state is restored after.
  ErrorLevel WalkRelated(int key, BufferedPairs& pairs, const std::function<void()>& prepare,
                         const std::function<bool()>& matches, const std::function<ErrorLevel(bool* stop)>& act);

 private:
  bool registered_ = false;
};

}  // namespace qm
