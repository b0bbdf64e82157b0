// The peer's side of the whole-process comparison: OpenMS loads an mzML
// file with its default options, then takes each spectrum's largest
// intensity within m/z +- tolerance, as the chain's trace step does (every
// peak of the spectrum is looked at; no sorted-order shortcut). Prints the
// point count and a checksum so the work cannot be optimised away.
// Usage: openms_probe FILE.mzML MZ [TOLERANCE]
#include <OpenMS/FORMAT/MzMLFile.h>
#include <OpenMS/KERNEL/MSExperiment.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE.mzML MZ [TOLERANCE]\n", argv[0]);
    return 64;
  }
  const double mz = std::strtod(argv[2], nullptr);
  const double tolerance = argc > 3 ? std::strtod(argv[3], nullptr) : 0.5;
  OpenMS::PeakMap experiment;
  OpenMS::MzMLFile().load(argv[1], experiment);
  std::vector<double> times;
  std::vector<double> intensities;
  for (const OpenMS::MSSpectrum& spectrum : experiment) {
    bool found = false;
    double best = 0.0;
    for (const OpenMS::Peak1D& peak : spectrum) {
      if (peak.getMZ() < mz - tolerance || peak.getMZ() > mz + tolerance) continue;
      const double y = peak.getIntensity();
      if (!found || y > best) best = y;
      found = true;
    }
    if (found) {
      times.push_back(spectrum.getRT() / 60.0);
      intensities.push_back(best);
    }
  }
  double sum = 0.0;
  for (const double y : intensities) sum += y;
  std::printf("%zu spectra, %zu trace points, intensity sum %.17g\n", experiment.size(),
              times.size(), sum);
  return 0;
}
