// Qualifier measurements between a batch and a merge. The results table
// carries each quantifier fit, but quantitation also needs every qualifier
// ion's fit, which the table leaves out. `vxrun batch --measurements FILE`
// writes them as JSON Lines, one line per file and target in row order:
//   {"file":"std1.mzML","target":"A","qualifiers":[
//     {"fit_status":"success","area":1520.5,"retention_time":1.5013},...]}
// The qualifier list is empty for a target without qualifiers and for a
// file whose spectra were never read. Numbers are the shortest texts that
// read back to the same doubles; a non-finite area is null (such a fit never
// counts). An ion whose peak was decided also carries "signal_to_noise" and
// "detection" (the quantifier's at the end of the line), which identification
// in a merge checks as the batch did. `vxrun merge` reads these parts back beside the table parts and
// joins them to the merged rows, so that the quantitation sees what one
// batch over all the files saw.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "results_table.hpp"
#include "table_merge.hpp"
#include "targets.hpp"

namespace vx::host::tables {

// One ion's fit in one file.
struct IonFit {
  std::string fit_status;  // the fit step's status, or the row status when the file failed
  std::optional<double> area;
  std::optional<double> retention_time;
  // The ion's peak decision and the other responses the quantifier may be
  // quantitated by (a table without decisions leaves them empty; the
  // measurement lines carry the S/N and detection of qualifier ions, which
  // identification in a merge checks).
  // (Initialised so that the brace lists of three still compile silently.)
  std::string detection = {};
  std::optional<double> integrated_area = {};
  std::optional<double> height = {};
  std::optional<double> signal_to_noise = {};
};

// What the batch measured for one file and target.
struct Measurement {
  IonFit quantifier;
  std::vector<IonFit> qualifiers;  // in the target's qualifier order
  std::string review = {};         // the row's review action, "" when none
};

// One line per row; qualifier_fits has one entry per row (missing ones are
// written as empty lists).
std::string measurements_jsonl(std::span<const ResultRow> rows,
                               std::span<const std::vector<IonFit>> qualifier_fits);

struct QualifierJoin {
  std::vector<std::vector<IonFit>> per_row;  // one per merged row
  // One per merged row: the quantifier's peak decision when its part holds
  // one (only signal_to_noise and detection are set).
  std::vector<IonFit> quantifiers;
  std::string error;  // non-empty: names the part or the file; per_row is empty
};

// The qualifier fits of every merged row, from the measurement parts. Every
// part must be whole (each line a complete record ending with a line end);
// each file and target must appear exactly once over all parts, hold as many
// qualifiers as its target (or none), and belong to a merged row.
QualifierJoin join_qualifiers(std::span<const ResultRow> rows,
                              std::span<const Target> targets,
                              std::span<const TablePart> parts);

// The merged rows must be the targets table's rows: each file's rows name
// its targets in the table's order. Empty when they are; else what differs.
std::string rows_follow_targets(std::span<const ResultRow> rows,
                                std::span<const Target> targets);

}  // namespace vx::host::tables
