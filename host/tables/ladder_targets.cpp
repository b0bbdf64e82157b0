#include "ladder_targets.hpp"

#include <cmath>

#include "number_text.hpp"

namespace vx::host::tables {

using base::shortest_text;

std::vector<std::string> place_targets_by_index(
    std::vector<Target>& targets, const std::vector<ident::Alkane>* ladder) {
  std::vector<std::string> errors;
  for (Target& t : targets) {
    if (!t.ri) continue;
    if (ladder == nullptr) {
      if (!t.rt_given)
        errors.push_back("target '" + t.name + "' gives ri " + shortest_text(*t.ri) +
                         " but no rt: give --ladder to place its window");
      continue;
    }
    const double tol = t.ri_tol.value_or(ident::kDefaultRiTolerance);
    const auto w = ident::rt_window_for_ri(*ladder, *t.ri, tol);
    if (!w) {
      errors.push_back("target '" + t.name + "': the ladder cannot place ri " +
                       shortest_text(*t.ri));
      continue;
    }
    if (w->extrapolated) {
      errors.push_back("target '" + t.name + "': ri " + shortest_text(*t.ri) + " ± " +
                       shortest_text(tol) + " lies outside the ladder (C" +
                       std::to_string(ladder->front().carbon) + " to C" +
                       std::to_string(ladder->back().carbon) + ", ri " +
                       std::to_string(ladder->front().carbon * 100) + " to " +
                       std::to_string(ladder->back().carbon * 100) +
                       "): extend the ladder or give rt");
      continue;
    }
    t.rt = w->rt;
    t.rt_tol = w->rt_tol;
    t.rt_given = true;
  }
  return errors;
}

void add_retention_indices(std::span<ResultRow> rows,
                           std::span<const ident::Alkane> ladder) {
  for (ResultRow& row : rows) {
    if (!row.retention_time || !std::isfinite(*row.retention_time)) continue;
    const auto ri = ident::retention_index(ladder, *row.retention_time);
    if (!ri) continue;
    row.retention_index = ri->value;
    if (ri->extrapolated) row.flags.emplace_back(ident::kFlagRiExtrapolated);
  }
}

}  // namespace vx::host::tables
