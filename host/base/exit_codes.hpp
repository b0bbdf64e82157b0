// vxrun's exit codes (also listed in 'vxrun --help' and docs/notes/host.md).
// The usage, input and output codes follow the BSD sysexits numbering.
#pragma once

namespace vx::host::base {

inline constexpr int kExitOk = 0;               // every file was processed
inline constexpr int kExitNotProcessed = 1;     // a file or target was not processed
inline constexpr int kExitUsage = 64;           // bad command line
inline constexpr int kExitTargetsInvalid = 65;  // the targets table or sample list is malformed
inline constexpr int kExitPartInvalid = 65;     // merge: a part is not a whole table
inline constexpr int kExitReviewInvalid = 65;   // a review decision names no row of the run
inline constexpr int kExitNoInput = 66;         // the targets table, sample list or a part unreadable
inline constexpr int kExitLibrary = 69;         // library not loadable or lacks a step
inline constexpr int kExitInternal = 70;        // internal error
inline constexpr int kExitCannotWrite = 73;     // a table, plot or document not written

}  // namespace vx::host::base
