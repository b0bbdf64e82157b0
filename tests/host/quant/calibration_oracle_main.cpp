// Reads calibration cases from standard input, one per line:
//   MODEL WEIGHTING ORIGIN(0|1) N x1 y1 ... xN yN
// and prints, per case, the status and the three coefficients with 17
// significant digits, for calibration_oracle.py to hold against numpy.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "calibration.hpp"

int main() {
  using namespace vx::host::quant;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string model, weighting;
    int origin = 0;
    std::size_t n = 0;
    in >> model >> weighting >> origin >> n;
    const auto m = parse_model(model);
    const auto w = parse_weighting(weighting);
    if (!in || !m || !w) {
      std::cerr << "bad case: " << line << "\n";
      return 2;
    }
    std::vector<CalibrationPoint> pts(n);
    for (CalibrationPoint& p : pts) {
      double y = 0.0;
      in >> p.amount >> y;
      p.response = y;
    }
    const Calibration cal = fit_calibration(std::move(pts), {*m, *w, origin != 0});
    std::printf("%s %.17g %.17g %.17g\n", cal.status.c_str(), cal.coef[0], cal.coef[1],
                cal.coef[2]);
  }
  return 0;
}
