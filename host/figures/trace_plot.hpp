// Trace figures of a batch: one SVG per file and target, built from the
// chain's target run and drawn by svg_plot. The batch runner knows nothing of
// figures; attach_plot_writer adds a per-target hook that writes them.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "batch_runner.hpp"
#include "chain_runner.hpp"
#include "svg_plot.hpp"
#include "targets.hpp"

namespace vx::host::figures {

// The figure of one file and target.
PlotInput make_plot(std::string_view file, const tables::Target& target,
                    const chain::TargetRun& run);

// Unique SVG file names, one per file and target, in slot order
// (file * targets + target): "<file name>__<target>.svg" with characters
// outside [A-Za-z0-9._-] replaced by '_' and a "-2", "-3"... suffix when two
// files share a name.
std::vector<std::string> plot_file_names(std::span<const chain::BatchFile> files,
                                         std::span<const tables::Target> targets);

// Makes the batch write each file and target's figure into dir (which must
// exist) as its targets finish; an existing hook still runs after it. A
// figure that cannot be written is the hook's write error (before the next
// hook's own).
void attach_plot_writer(chain::BatchSettings& settings,
                        std::span<const chain::BatchFile> files, const std::string& dir);

}  // namespace vx::host::figures
