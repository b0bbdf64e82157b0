// Finding the alkanes of an n-alkane ladder run in one ion trace (m/z 57 or
// 71, where every alkane gives a strong peak) and numbering them from the
// first carbon number. Pure; the trace is the host's selected-ion trace
// (retention times in minutes, intensities). Never throws except
// std::bad_alloc.
//
// Peaks: the baseline is the trace's median and the noise σ = 1.4826 · MAD
// (median absolute deviation), which the alkane peaks barely move because
// they cover a small part of the run. Every run of points above
//   threshold = baseline + max(k · σ, min_relative_height · (max − baseline))
// is one peak, its apex refined by a parabola through the top three points.
// Numbering: under temperature programming alkanes elute at near-even
// spacing, slowly drifting. Each gap is compared with the median of up to
// three gaps on either side (itself left out, so one missing alkane does not
// move its own reference): a gap of about k times that spacing means k − 1
// alkanes are missing, each reported by carbon number, and the following
// peaks keep their true numbers. A peak closer than half the local spacing
// to its neighbour is an extra peak (a contaminant on the same ion): the
// smaller of the two is left unnumbered and reported.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "retention_index.hpp"

namespace vx::host::ident {

struct LadderFinderOptions {
  double threshold_sigmas = 5.0;      // k in the threshold
  double min_relative_height = 0.02;  // of the tallest point above baseline
  // |gap / spacing − round(gap / spacing)| above this is warned about as an
  // irregular gap (the numbering may be off by one there).
  double irregular_gap = 0.3;
};

struct LadderPeak {
  double rt = 0.0;      // apex, minutes
  double height = 0.0;  // apex intensity above the baseline
  int carbon = 0;       // 0: not numbered (an extra peak)
};

struct LadderFind {
  std::vector<Alkane> alkanes;        // the numbered peaks: a ladder
  std::vector<LadderPeak> peaks;      // every peak found, in time order
  std::vector<int> missing_carbons;   // carbon numbers with no peak inside the ladder
  std::vector<std::string> warnings;  // for people: missing, extra, irregular, too few
  double baseline = 0.0;
  double noise = 0.0;      // robust σ
  double threshold = 0.0;  // the intensity peaks had to exceed
};

// Finds the ladder in (rt, intensity); first_carbon is the carbon number of
// the first alkane that elutes (the first peak found). Points with a
// non-finite time or intensity are ignored; the times must increase. Fewer
// than two peaks give no alkanes and a warning; so do mismatched spans and
// a first_carbon outside 1..200.
LadderFind find_ladder(std::span<const double> rt, std::span<const double> intensity,
                       int first_carbon, const LadderFinderOptions& options = {});

}  // namespace vx::host::ident
