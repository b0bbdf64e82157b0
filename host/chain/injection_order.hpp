// The order the files were injected in, for the report's sequence plots:
// the sample list's order when there is one, else each run's start time as
// its file records it (mzML run startTimeStamp, ANDI netCDF global attribute
// experiment_date_time_stamp), else the order the command line named them
// in. Reads at most the head of each file; never throws except bad_alloc.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "batch_runner.hpp"

namespace vx::host::chain {

inline constexpr std::string_view kOrderSampleList = "sample list";
inline constexpr std::string_view kOrderStartTime = "run start time";
inline constexpr std::string_view kOrderCommandLine = "command line";

struct InjectionOrder {
  std::vector<std::size_t> order;  // file indexes, first injected first
  std::string_view source;         // one of the kOrder... texts
};

// The startTimeStamp of the <run> element in the head of an mzML text.
std::optional<std::string> mzml_start_time(std::string_view head);

// A start time as the UTC instant "YYYY-MM-DDThh:mm:ss.mmmZ", which sorts as
// text: from an xs:dateTime (mzML) or the ISO text andi_time_stamp_to_iso
// makes of an ANDI stamp. A time without a zone is taken as UTC (the files of
// one sequence come from one clock). nullopt when the text is not a valid
// date and time: a malformed stamp counts as no stamp.
std::optional<std::string> utc_instant(std::string_view stamp);

// The start time of a file as utc_instant gives it: from the first 64 KiB
// of an mzML file, from the header of a netCDF file; gzip files and others
// have none here.
std::optional<std::string> file_start_time(const std::string& path);

// list_lines: for each file its line in the sample list (empty: no list);
// start_times: one per file (empty: none known); inputs: the command line's
// inputs, whose order ranks the files they expanded to.
InjectionOrder injection_order(std::span<const BatchFile> files,
                               std::span<const std::string> inputs,
                               std::span<const std::size_t> list_lines,
                               std::span<const std::optional<std::string>> start_times);

}  // namespace vx::host::chain
