// Joining result tables: the parts that separate `vxrun batch` runs wrote
// (one per file or per few files when a workflow engine spreads a sequence
// over a cluster) are read back into rows and put in the order one batch over
// all their files would have used, so that the merged table is the same
// bytes. Nothing here touches files; a damaged part is an error that names it.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "results_table.hpp"

namespace vx::host::tables {

struct TablePart {
  std::string name;  // used in error messages (the part's path)
  std::string_view text;
};

struct MergeOutcome {
  std::vector<ResultRow> rows;   // sorted by file path; each file's rows as in its part
  std::size_t files_failed = 0;  // files whose rows are not all ok
  std::string error;             // non-empty: names the part; rows are then empty
};

// Every part must be a whole TSV table of this version (its header, every
// row readable) ending with a line end: a last line without one means the
// part was cut short. A file found in two parts is an error too: the parts
// would not come from one split of the same inputs.
MergeOutcome merge_tables(std::span<const TablePart> parts);

}  // namespace vx::host::tables
