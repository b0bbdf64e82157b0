// A source is used only when it places every file: a sample list always
// does; start times only when each file has one (a sequence half dated
// would sort the undated files arbitrarily). Ties keep the batch's order.
#include "injection_order.hpp"

#include <algorithm>
#include <fstream>
#include <numeric>

namespace vx::host::chain {

std::optional<std::string> mzml_start_time(std::string_view head) {
  const auto run = head.find("<run");
  if (run == std::string_view::npos) return std::nullopt;
  const auto close = head.find('>', run);
  const std::string_view tag = head.substr(run, close == std::string_view::npos
                                                    ? std::string_view::npos
                                                    : close - run);
  constexpr std::string_view kAttr = "startTimeStamp=";
  const auto at = tag.find(kAttr);
  if (at == std::string_view::npos || at + kAttr.size() >= tag.size()) return std::nullopt;
  const char quote = tag[at + kAttr.size()];
  if (quote != '"' && quote != '\'') return std::nullopt;
  const auto begin = at + kAttr.size() + 1;
  const auto end = tag.find(quote, begin);
  if (end == std::string_view::npos || end == begin) return std::nullopt;
  return std::string(tag.substr(begin, end - begin));
}

std::optional<std::string> file_start_time(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string head(64 * 1024, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return mzml_start_time(head);
}

InjectionOrder injection_order(std::span<const BatchFile> files,
                               std::span<const std::string> inputs,
                               std::span<const std::size_t> list_lines,
                               std::span<const std::optional<std::string>> start_times) {
  InjectionOrder out;
  out.order.resize(files.size());
  std::iota(out.order.begin(), out.order.end(), std::size_t{0});
  const auto sort_by = [&](const auto& key) {
    std::stable_sort(out.order.begin(), out.order.end(),
                     [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
  };
  if (list_lines.size() == files.size() && !files.empty()) {
    sort_by([&](std::size_t f) { return list_lines[f]; });
    out.source = kOrderSampleList;
    return out;
  }
  const bool dated =
      start_times.size() == files.size() && !files.empty() &&
      std::all_of(start_times.begin(), start_times.end(), [](const auto& t) { return t.has_value(); });
  if (dated) {
    sort_by([&](std::size_t f) { return *start_times[f]; });
    out.source = kOrderStartTime;
    return out;
  }
  // A file named on the command line ranks by its place there; files from a
  // folder or pattern take the place of that input (sorted among themselves).
  const auto rank = [&](std::size_t f) {
    const auto it = std::find(inputs.begin(), inputs.end(), files[f].path);
    if (it != inputs.end()) return static_cast<std::size_t>(it - inputs.begin());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      if (files[f].path.starts_with(inputs[i])) return i;
    }
    return inputs.size();
  };
  sort_by(rank);
  out.source = kOrderCommandLine;
  return out;
}

}  // namespace vx::host::chain
