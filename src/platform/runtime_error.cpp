#include "platform/runtime_error.h"

namespace qm::platform {
namespace {

thread_local RuntimeErrorState error_state;

}  // namespace

const RuntimeErrorState& LastRuntimeError() { return error_state; }

void SetRuntimeError(int code, std::string_view file, std::string_view file_error_code,
                     std::string_view file_error_message) {
  error_state.code = code;
  error_state.text = RuntimeErrorText(code);
  error_state.file = std::string(file);
  error_state.file_error_code = std::string(file_error_code);
  error_state.file_error_message = std::string(file_error_message);
}

void ClearRuntimeError() { error_state = RuntimeErrorState{}; }

std::string RuntimeErrorText(int code) {
  switch (code) {
    case kErrNone: return "";
    case kErrFileNotFound: return "File Not Found";
    case kErrPathNotFound: return "Path Not Found";
    case kErrAccessDenied: return "Access Denied";
    case kErrNoRecord: return "Record Not Available";
    case kErrBadRecord: return "Record Not Found";
    case kErrCreationFailed: return "File Creation Failed";
    case kErrDuplicateKey: return "Creates Duplicate Key";
    case kErrRecordHeld: return "Record Is Already Held";
    case kErrKeyFileInvalid: return "Invalid Key File";
    case kErrDeclarationMismatch: return "Invalid Record Declaration";
    case kErrFileAlreadyOpen: return "File Already Open";
    case kErrNotSupported: return "Function Not Supported";
    case kErrRecordChanged: return "Record Changed By Another Station";
    case kErrDriverError: return "File System Error";
    default: return "Error " + std::to_string(code);
  }
}

}  // namespace qm::platform
