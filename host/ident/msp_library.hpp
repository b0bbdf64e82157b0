// Reading mass spectral libraries in the NIST MSP text form, as NIST,
// MassBank, MoNA and in-house tools export them. Pure: text in, entries and
// errors out; never throws except std::bad_alloc, never reads outside the
// view, locale-free numbers.
//
// An entry is a block of `Key: value` lines, then `Num Peaks: N`, then N
// (m/z, intensity) pairs. Entries are separated by blank lines (a `Name:`
// line also starts a new one). Keys are matched ignoring case, blanks, '_'
// and '-': NAME; NUM PEAKS; RETENTIONINDEX / RI / Retention_index;
// RETENTIONTIME / RT / Retention_time; PRECURSORMZ. Other fields (Synon,
// CAS#, Formula, Comments, ...) are kept as written. Peak lines hold one or
// more pairs in the common layouts:
//   41 999          41<TAB>999          41 999; 42 12; 43 100;
//   41 999 "C3H5+"  (a quoted annotation after a pair)
// A damaged entry is an error that names its line, never a silent skip:
// fewer or more peaks than Num Peaks, a non-numeric or negative value, an
// m/z without its intensity, an entry without NAME or Num Peaks. The reader
// goes on with the next entry so one pass reports every damaged entry.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vx::host::ident {

struct LibraryPeak {
  double mz = 0.0;
  double intensity = 0.0;
  friend bool operator==(const LibraryPeak&, const LibraryPeak&) = default;
};

struct LibraryEntry {
  std::string name;
  std::size_t line = 0;  // the entry's first line
  // RI: a plain number, or NIST's "SemiStdNP=1043/4/62 StdNP=1037/0/6 ..."
  // form, from which the semi-standard non-polar value is taken (else the
  // standard non-polar one): those are the columns GC-MS runs mostly use.
  std::optional<double> retention_index;
  // RT in minutes; a value followed by "s" or "sec" is converted from
  // seconds, "min" or no unit is taken as minutes.
  std::optional<double> retention_time;
  std::optional<double> precursor_mz;
  std::vector<LibraryPeak> peaks;  // as listed
  std::vector<std::pair<std::string, std::string>>
      fields;  // other fields, key and value as written
};

struct MspParse {
  std::vector<LibraryEntry> entries;  // the entries without errors
  std::vector<std::string> errors;    // "SOURCE:LINE: what"; empty on success
};

// Errors stop being collected after this many (one more says so): a file
// that is not a library at all should not produce one error per line.
inline constexpr std::size_t kMaxMspErrors = 100;
// Num Peaks above this is refused (no real spectrum has so many; a damaged
// count must not reserve gigabytes).
inline constexpr long long kMaxMspPeaks = 100000;

MspParse parse_msp(std::string_view text, std::string_view source);

}  // namespace vx::host::ident
