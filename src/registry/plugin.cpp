// The shared library is the whole of vx_core linked as one archive; this
// translation unit only gives the plugin target a source of its own. What it
// exports is decided by cmake/exports.map: vx_list_steps and vx_resolve_step.
#include "vx_steps.h"
