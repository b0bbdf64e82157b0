// A source is used only when it places every file: a sample list always
// does; start times only when each file has one (a sequence half dated
// would sort the undated files arbitrarily). Ties keep the batch's order.
// Start times are compared as UTC instants, so that a sequence mixing mzML
// files stamped in UTC and netCDF files stamped in local time with an offset
// still sorts by when each run started.
#include "injection_order.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <numeric>

#include "andi_reader.hpp"

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

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (H. Hinnant's
// days_from_civil), so that offsets carry across days, months and years.
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp + (mp < 10 ? 3 : -9);
  y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

bool leap_year(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Reads n digits at `at`; false when any is not a digit or the text ends.
bool digits(std::string_view s, std::size_t at, std::size_t n, int64_t& out) {
  if (at + n > s.size()) return false;
  out = 0;
  for (std::size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

void put_digits(std::string& out, int64_t v, int width) {
  char buf[8];
  for (int i = width - 1; i >= 0; --i) {
    buf[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  out.append(buf, static_cast<std::size_t>(width));
}

}  // namespace

std::optional<std::string> utc_instant(std::string_view s) {
  // YYYY-MM-DDThh:mm:ss[.f+][Z|+hh:mm|-hh:mm]
  int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  if (!digits(s, 0, 4, y) || s.size() < 19 || s[4] != '-' || !digits(s, 5, 2, mo) ||
      s[7] != '-' || !digits(s, 8, 2, d) || (s[10] != 'T' && s[10] != 't') ||
      !digits(s, 11, 2, h) || s[13] != ':' || !digits(s, 14, 2, mi) || s[16] != ':' ||
      !digits(s, 17, 2, sec))
    return std::nullopt;
  static constexpr std::array<int64_t, 12> kMonthDays = {31, 28, 31, 30, 31, 30,
                                                         31, 31, 30, 31, 30, 31};
  if (mo < 1 || mo > 12 || d < 1 ||
      d > kMonthDays[static_cast<std::size_t>(mo - 1)] + (mo == 2 && leap_year(y) ? 1 : 0) ||
      h > 23 || mi > 59 || sec > 60)
    return std::nullopt;
  std::size_t at = 19;
  int64_t millis = 0;
  if (at < s.size() && s[at] == '.') {
    ++at;
    const std::size_t first = at;
    int scale = 100;
    for (; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at, scale /= 10)
      millis += scale * (s[at] - '0');  // digits past the third fall to 0
    if (at == first) return std::nullopt;
  }
  int64_t offset_minutes = 0;
  const std::string_view zone = s.substr(at);
  if (zone.empty() || zone == "Z" || zone == "z") {
    // UTC, or no zone: taken as UTC
  } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
    int64_t zh = 0, zm = 0;
    if (!digits(zone, 1, 2, zh) || !digits(zone, 4, 2, zm) || zh > 23 || zm > 59)
      return std::nullopt;
    offset_minutes = (zone[0] == '-' ? -1 : 1) * (zh * 60 + zm);
  } else {
    return std::nullopt;
  }
  // Local time minus its offset is UTC.
  const int64_t seconds = days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + sec -
                          offset_minutes * 60;
  const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const int64_t of_day = seconds - days * 86400;
  civil_from_days(days, y, mo, d);
  if (y < 0 || y > 9999) return std::nullopt;
  std::string out;
  out.reserve(24);
  put_digits(out, y, 4);
  out += '-';
  put_digits(out, mo, 2);
  out += '-';
  put_digits(out, d, 2);
  out += 'T';
  put_digits(out, of_day / 3600, 2);
  out += ':';
  put_digits(out, of_day / 60 % 60, 2);
  out += ':';
  put_digits(out, of_day % 60, 2);
  out += '.';
  put_digits(out, millis, 3);
  out += 'Z';
  return out;
}

std::optional<std::string> file_start_time(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string head(64 * 1024, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  in.close();
  if (formats::has_netcdf_signature(std::as_bytes(std::span<const char>(head)))) {
    const auto stamp = formats::read_andi_time_stamp(path);
    if (!stamp) return std::nullopt;
    return utc_instant(formats::andi_time_stamp_to_iso(*stamp));
  }
  const auto stamp = mzml_start_time(head);
  if (!stamp) return std::nullopt;
  return utc_instant(*stamp);
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
