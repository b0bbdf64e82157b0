// Reads spectrum pairs from stdin and prints their scores, for
// match_oracle.py to hold against numpy. Input, one case per two lines:
// "U mz int mz int ..." then "L mz int ...". Output per case:
// "forward reverse F_forward F_reverse" (F with 17 digits), or "none".
#include <charconv>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "spectrum_match.hpp"

namespace {

vx::host::ident::UnitSpectrum read_spectrum(const std::string& line) {
  std::istringstream in(line);
  in.imbue(std::locale::classic());  // the script writes '.' decimals
  std::string tag;
  in >> tag;
  std::vector<double> mz, intensity;
  double m = 0.0;
  double v = 0.0;
  while (in >> m >> v) {
    mz.push_back(m);
    intensity.push_back(v);
  }
  return vx::host::ident::bin_unit_mass(mz, intensity);
}

std::string g17(double x) {
  char buf[32];
  auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 17);
  return std::string(buf, end);
}

}  // namespace

int main() {
  std::string u;
  std::string l;
  while (std::getline(std::cin, u) && std::getline(std::cin, l)) {
    const auto unknown = read_spectrum(u);
    const auto library = read_spectrum(l);
    const auto s = vx::host::ident::match_score(unknown, library);
    if (!s) {
      std::cout << "none\n";
      continue;
    }
    std::cout << s->forward << ' ' << s->reverse << ' '
              << g17(*vx::host::ident::match_fraction(unknown, library, false)) << ' '
              << g17(*vx::host::ident::match_fraction(unknown, library, true)) << '\n';
  }
  return 0;
}
