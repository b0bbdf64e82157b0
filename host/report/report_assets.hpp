// The report page's own style sheet and script, compiled into vxrun from
// report_page.css and report_page.js so that a report never needs another file.
#pragma once

#include <string_view>

namespace vx::host::report {

extern const std::string_view kReportCss;
extern const std::string_view kReportScript;

}  // namespace vx::host::report
