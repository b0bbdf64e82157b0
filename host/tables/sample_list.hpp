// Sample lists: what each file of a batch is (standard, sample, blank, QC) and
// the known amounts in the standards (and, optionally, the nominal amounts of
// QCs). A TSV or CSV table with a header row, in either of two forms:
//   long:  file, type, target, amount   — one row per file and compound;
//   wide:  file, type, <target>...      — one row per file, one amount column
//                                          per target name.
// Every error names the source and line, and the whole list is checked before
// any mzML file is read.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vx::host::tables {

enum class SampleType { kSample, kStandard, kBlank, kQc };

std::string_view sample_type_name(SampleType t);

struct SampleEntry {
  std::string file;  // as written in the list
  SampleType type = SampleType::kSample;
  std::vector<std::optional<double>> amounts;  // one per target, in targets order
  std::size_t line = 0;                        // first line naming the file
};

struct SampleListParse {
  std::vector<SampleEntry> entries;
  std::vector<std::string> errors;  // "SOURCE:LINE: what"; empty on success
};

// target_names: the batch's targets, in order (amount columns and the target
// column must name one of them).
SampleListParse parse_sample_list(std::string_view text,
                                  std::span<const std::string> target_names,
                                  std::string_view source);

// What the batch's files are, one per path in paths' order: the entry whose
// file is the path itself, its file name, or its file name without the
// .mzML / .mzML.gz ending. Files the list does not name are samples. A list
// entry that names no file, or more than one, is an error naming its line.
struct SampleAssignment {
  std::vector<SampleEntry> per_file;
  std::vector<std::string> errors;
};
SampleAssignment assign_samples(const SampleListParse& list,
                                std::span<const std::string> paths,
                                std::size_t n_targets, std::string_view source);

}  // namespace vx::host::tables
