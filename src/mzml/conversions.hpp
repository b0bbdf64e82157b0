// The reader's string-to-number conversions: the rules of the ISO stoi,
// stoull and stod conversions (base 10, leading blanks skipped, trailing text
// ignored) in the "C" locale whatever the process locale, without copying the
// text. Failures raise the standard errors with the messages callers report:
// std::invalid_argument("invalid stoi argument"), std::out_of_range("stoi
// argument out of range"), and the same for stoull and stod.
#pragma once

#include <cstdint>
#include <string_view>

namespace vx::mzml {

int32_t convert_stoi(std::string_view text);
uint64_t convert_stoull(std::string_view text);
double convert_stod(std::string_view text);

}  // namespace vx::mzml
