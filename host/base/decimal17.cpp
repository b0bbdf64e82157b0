// %.17g numbers through the step library's formatter; see decimal17.hpp.
#include "decimal17.hpp"

#include "common/decimal_format.hpp"

namespace vx::host::base {

static_assert(kG17TextSize == common::kG17MaxLength);

std::size_t format_g17(double value, char* buf) { return common::format_g17(value, buf); }

void append_g17(std::string& out, double value) {
  char buf[kG17TextSize];
  out.append(buf, common::format_g17(value, buf));
}

void append_g17_array(std::string& out, std::span<const double> values) {
  // Written in place: the capacity is grown once for the worst case, the
  // list formatted straight into it, and the unused tail cut off.
  const std::size_t start = out.size();
  out.resize(start + 2 + values.size() * (kG17TextSize + 1));
  char* p = out.data() + start;
  *p++ = '[';
  p = common::format_g17_list(values, p);
  *p++ = ']';
  out.resize(static_cast<std::size_t>(p - out.data()));
}

}  // namespace vx::host::base
