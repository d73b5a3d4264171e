// The runtime's error state: the code, text and file of the last failed
// runtime operation on the calling logical thread, and the file driver's own
// code and message. Every platform operation that can fail sets it; a
// successful one clears it.
#pragma once

#include <string>
#include <string_view>

namespace qm::platform {

// Runtime error codes that the framework and the programs act on.
inline constexpr int kErrNone = 0;
inline constexpr int kErrFileNotFound = 2;
inline constexpr int kErrPathNotFound = 3;
inline constexpr int kErrAccessDenied = 5;
inline constexpr int kErrNoRecord = 33;
inline constexpr int kErrBadRecord = 35;
inline constexpr int kErrCreationFailed = 37;
inline constexpr int kErrDuplicateKey = 40;
inline constexpr int kErrRecordHeld = 43;
inline constexpr int kErrKeyFileInvalid = 46;
inline constexpr int kErrDeclarationMismatch = 47;
inline constexpr int kErrFileAlreadyOpen = 52;
inline constexpr int kErrNotSupported = 80;
inline constexpr int kErrRecordChanged = 89;
inline constexpr int kErrDriverError = 90;

struct RuntimeErrorState {
  int code = kErrNone;
  std::string text;                // the runtime's text for `code`
  std::string file;                // the file the failure concerns, if any
  std::string file_error_code = "0";  // the file driver's own code
  std::string file_error_message;  // the file driver's own message
};

// The calling thread's current error state.
const RuntimeErrorState& LastRuntimeError();

// Sets the calling thread's error state; the text is the standard text of
// `code`. Driver codes and messages stay empty ("0") unless given.
void SetRuntimeError(int code, std::string_view file = {}, std::string_view file_error_code = "0",
                     std::string_view file_error_message = {});

// Back to "no error".
void ClearRuntimeError();

// The runtime's standard text for an error code ("File Not Found" for 2).
std::string RuntimeErrorText(int code);

}  // namespace qm::platform
