// Checks vxrun makes around a run rather than in it: every output's folder
// before the first input is read (a missing folder used to surface only
// after hours of work), and the targets whose window missed a run, said once
// each on stderr. Also the convert command, which reads through the formats
// layer and needs no step library. Nothing here throws except
// std::bad_alloc.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "cli_args.hpp"
#include "commands.hpp"
#include "results_table.hpp"
#include "targets.hpp"

namespace vx::host::cli {

// Every file path the command will write (tables, JSON Lines, report,
// measurements, quantitation tables, convert's output); "-" and "" (standard
// output, not asked for) are left out. Folders the command creates (plots,
// documents) are not files and not listed.
std::vector<std::string> output_files(const CliOptions& o);

// The first output whose folder does not exist or cannot be written, or
// which names a folder, as a message ("cannot write out/table.tsv: the
// folder out does not exist"); nullopt when all can be written.
std::optional<std::string> unwritable_output(std::span<const std::string> paths);

// One line per target that carries rt_outside_run on any row, in targets
// order: "vxrun: warning: target 'X' (rt 90 ± 0.3 min) lies outside the run
// of N file(s) (first 3 to last 3.25 min): its numbers are empty".
std::string outside_run_warnings(std::span<const tables::ResultRow> rows,
                                 std::span<const tables::Target> targets);

// vxrun convert FILE.cdf -o OUT.mzML.
int run_convert_command(const CliOptions& o, CommandIo& io);

}  // namespace vx::host::cli
