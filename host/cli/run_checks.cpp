// Output checks, the outside-the-run warning and convert. access(2) is asked
// about the folder, not the file, so nothing is created or truncated before
// the run: an existing output is only replaced when the run writes it.
#include "run_checks.hpp"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "andi_reader.hpp"
#include "exit_codes.hpp"
#include "mzml_writer.hpp"
#include "number_text.hpp"

namespace vx::host::cli {

namespace fs = std::filesystem;

std::vector<std::string> output_files(const CliOptions& o) {
  std::vector<std::string> out;
  for (const std::string* p :
       {&o.table_path, &o.jsonl_path, &o.report_path, &o.measurements_path,
        &o.quant.quant_path, &o.quant.quant_jsonl_path, &o.quant.calibration_path,
        &o.quant.calibration_jsonl_path, &o.convert_output}) {
    if (!p->empty() && *p != "-") out.push_back(*p);
  }
  return out;
}

std::optional<std::string> unwritable_output(std::span<const std::string> paths) {
  for (const std::string& p : paths) {
    const fs::path path(p);
    fs::path dir = path.parent_path();
    if (dir.empty()) dir = ".";
    std::error_code ec;
    const std::string head = "cannot write " + p + ": ";
    if (fs::is_directory(path, ec)) return head + "it is a folder";
    if (!fs::is_directory(dir, ec))
      return head + "the folder " + dir.string() + " does not exist";
    if (::access(dir.c_str(), W_OK | X_OK) != 0)
      return head + "the folder " + dir.string() + " is not writable";
    if (fs::exists(path, ec) && ::access(path.c_str(), W_OK) != 0)
      return head + "the file is not writable";
  }
  return std::nullopt;
}

std::string outside_run_warnings(std::span<const tables::ResultRow> rows,
                                 std::span<const tables::Target> targets) {
  std::string out;
  for (const tables::Target& t : targets) {
    std::size_t files = 0;
    for (const tables::ResultRow& r : rows) {
      if (r.target == t.name && std::find(r.flags.begin(), r.flags.end(),
                                          tables::kFlagRtOutsideRun) != r.flags.end())
        ++files;
    }
    if (files == 0) continue;
    out += "vxrun: warning: target '" + t.name + "' (rt " + base::general_text(t.rt, 6) +
           " \u00b1 " + base::general_text(t.rt_tol, 6) +
           " min) lies outside the run of " + std::to_string(files) +
           (files == 1 ? " file" : " files") + " (" +
           std::string(tables::kFlagRtOutsideRun) +
           "): its numbers are empty; are minutes and seconds mixed up?\n";
  }
  return out;
}

int run_convert_command(const CliOptions& o, CommandIo& io) {
  const std::string& in = o.inputs.front();
  const std::string paths[] = {o.convert_output};
  if (const auto problem = unwritable_output(paths)) {
    io.err << "vxrun: " << *problem << "\n";
    return base::kExitCannotWrite;
  }
  formats::AndiReadResult r = formats::read_andi_run(in);
  if (r.status != formats::AndiStatus::kOk) {
    io.err << "vxrun: " << in << ": " << formats::status_text(r.status) << ": "
           << r.message << "\n";
    return base::kExitNotProcessed;
  }
  std::string error;
  if (!formats::write_indexed_mzml(r.run, in, o.convert_output, error)) {
    io.err << "vxrun: " << error << "\n";
    return base::kExitCannotWrite;
  }
  if (!o.quiet) io.err << "vxrun: " << o.convert_output << ": " << r.message << "\n";
  return base::kExitOk;
}

}  // namespace vx::host::cli
