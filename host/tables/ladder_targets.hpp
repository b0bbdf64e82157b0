// The alkane ladder applied to a batch's tables: targets given by retention
// index get the window of that index in the run's ladder, and every result
// row gains the retention index of its fitted time. Pure; errors are texts
// that name the target.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "results_table.hpp"
#include "retention_index.hpp"
#include "targets.hpp"

namespace vx::host::tables {

// Places each target that gives ri: rt becomes the time ri elutes at in the
// ladder and rt_tol the larger half of the ri ± ri_tol window (a target's
// own rt is then replaced: the index is what the analyst fixed). An index
// window outside the ladder is refused: its times would be an extrapolation
// the fit window should not rest on. A target with only ri and no ladder is
// refused too. Errors, one per target, name it; empty on success.
std::vector<std::string> place_targets_by_index(std::vector<Target>& targets,
                                                const std::vector<ident::Alkane>* ladder);

// Sets retention_index of every row with a finite fitted time; a time
// outside the ladder still gets its (extrapolated) index and the flag
// ident::kFlagRiExtrapolated joins the row's flags.
void add_retention_indices(std::span<ResultRow> rows,
                           std::span<const ident::Alkane> ladder);

}  // namespace vx::host::tables
