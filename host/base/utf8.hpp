// UTF-8 validation for texts that reach SVG, HTML and JSON from data (file
// names need not be UTF-8; those documents must be). Never reads past the
// view; no allocation.
#pragma once

#include <cstddef>
#include <string_view>

namespace vx::host::base {

// Length of the valid UTF-8 sequence at s[i], or 0 when the bytes there are
// not one (overlong forms, surrogates and code points past U+10FFFF are not).
std::size_t utf8_length(std::string_view s, std::size_t i);

}  // namespace vx::host::base
