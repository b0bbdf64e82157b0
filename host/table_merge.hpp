// Joining result tables: the parts that separate `vxrun batch` runs wrote
// (one per file when a workflow engine spreads a sequence over a cluster) are
// read back into rows and put in the order one batch over all their files
// would have used, so that the merged table is the same bytes. Nothing here
// touches files; a damaged part is an error that names it.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "results_table.hpp"

namespace vx::host {

// A TSV table as table_tsv writes it, read back. error is empty on success;
// otherwise it says what is wrong and on which line (1 is the header).
struct TableRead {
  std::vector<ResultRow> rows;
  std::string error;
};
TableRead read_tsv_table(std::string_view text);

struct TablePart {
  std::string name;  // used in error messages (the part's path)
  std::string_view text;
};

struct MergeOutcome {
  std::vector<ResultRow> rows;  // sorted by file path; each file's rows as in its part
  std::size_t files_failed = 0;  // files whose rows are not all ok
  std::string error;             // non-empty: names the part; rows are then empty
};

// Every part must carry the header of table_tsv and end with a whole line.
// A file found in two parts is an error: the parts would not come from one
// split of the same inputs.
MergeOutcome merge_tables(std::span<const TablePart> parts);

}  // namespace vx::host
