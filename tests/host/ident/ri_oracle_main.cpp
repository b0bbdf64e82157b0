// Reads ladders and times from stdin and prints retention indices and their
// inverse, for ri_oracle.py to hold against numpy. Input, one case per two
// lines: "L carbon rt carbon rt ..." then "T t t t ...". Output per case:
// one line "ri extrapolated t_back" per time (17 digits), "none" when the
// ladder is unusable.
#include <charconv>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "retention_index.hpp"

namespace {

std::string g17(double x) {
  char buf[32];
  auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 17);
  return std::string(buf, end);
}

}  // namespace

int main() {
  std::string l;
  std::string t;
  while (std::getline(std::cin, l) && std::getline(std::cin, t)) {
    std::istringstream lin(l);
    std::istringstream tin(t);
    lin.imbue(std::locale::classic());  // the script writes '.' decimals
    tin.imbue(std::locale::classic());
    std::string tag;
    lin >> tag;
    tin >> tag;
    std::vector<vx::host::ident::Alkane> ladder;
    int c = 0;
    double rt = 0.0;
    while (lin >> c >> rt) ladder.push_back({c, rt});
    for (double time = 0.0; tin >> time;) {
      const auto ri = vx::host::ident::retention_index(ladder, time);
      if (!ri) {
        std::cout << "none\n";
        continue;
      }
      const auto back = vx::host::ident::retention_time_at(ladder, ri->value);
      std::cout << g17(ri->value) << ' ' << (ri->extrapolated ? 1 : 0) << ' '
                << g17(back ? back->value : -1.0) << '\n';
    }
  }
  return 0;
}
