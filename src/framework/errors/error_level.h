// ErrorLevel: the level of a message in the error manager's table and the
// result of most framework operations.
#pragma once

namespace qm {

using ErrorLevel = unsigned;

// As a message level: nothing is shown. As a result: success.
inline constexpr ErrorLevel LevelNone = 0;
// As a message level: a Yes/No question. As a result: a failure that the
// caller has to report.
inline constexpr ErrorLevel LevelQuestion = 1;
// A program error: handled like LevelFatal. Never returned.
inline constexpr ErrorLevel LevelProgram = 2;
// As a message level: the message, then the program ends. As a result: a
// fatal failure or a file that cannot be used; in the event loop: leave it.
inline constexpr ErrorLevel LevelFatal = 3;
// As a message level: handled like LevelQuestion. As a result: cancelled or
// answered No.
inline constexpr ErrorLevel LevelCancel = 4;
// As a message level: a message with an OK button. As a result: failed and
// the user has been told; in the event loop: the event was handled.
inline constexpr ErrorLevel LevelNotify = 5;

}  // namespace qm
