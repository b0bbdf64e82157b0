// Writes small SIM mzML files for the end-to-end tests: a Gaussian peak per
// ion on a constant baseline with deterministic pseudo-noise, in the plain
// uncompressed form (64-bit m/z, 32-bit intensities, times in minutes).
#pragma once

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace vx::testing {

struct SimPeak {
  double mz;
  double center;  // minutes
  double sigma;   // minutes
  double height;
  double baseline;
};

// The arrays are written from memory as they are: mzML wants little-endian.
static_assert(std::endian::native == std::endian::little);

inline std::string base64(const void* data, std::size_t n) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* b = static_cast<const unsigned char*>(data);
  std::string out;
  for (std::size_t i = 0; i < n; i += 3) {
    const uint32_t v = (uint32_t{b[i]} << 16) |
                       (i + 1 < n ? uint32_t{b[i + 1]} << 8 : 0u) |
                       (i + 2 < n ? uint32_t{b[i + 2]} : 0u);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < n ? kAlphabet[v & 63] : '=';
  }
  return out;
}

// scans spectra from t0 every dt minutes; noise_sd counts of uniform-ish
// noise from a fixed linear congruential sequence seeded by seed.
inline void write_sim_mzml(const std::string& path, const std::vector<SimPeak>& peaks,
                           int scans, double t0, double dt, double noise_sd,
                           uint64_t seed) {
  uint64_t state = seed * 6364136223846793005ULL + 1442695040888963407ULL;
  const auto noise = [&] {
    double sum = 0;
    for (int k = 0; k < 4; ++k) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      sum += static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
    }
    return sum * noise_sd * std::sqrt(3.0);  // sd of the sum of 4 uniforms is 1/sqrt(3)
  };
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<mzML xmlns=\"http://psi.hupo.org/ms/mzml\" version=\"1.1.0\">\n"
         "  <fileDescription>\n    <sourceFileList count=\"1\">\n"
         "      <sourceFile id=\"SF1\" name=\"generated.D\" location=\"file:///\"/>\n"
         "    </sourceFileList>\n  </fileDescription>\n"
         "  <run id=\"r\" startTimeStamp=\"2024-01-15T09:30:00Z\">\n"
      << "    <spectrumList count=\"" << scans << "\">\n";
  for (int s = 0; s < scans; ++s) {
    const double t = t0 + dt * s;
    std::vector<double> mz;
    std::vector<float> intensity;
    for (const SimPeak& p : peaks) {
      const double z = (t - p.center) / p.sigma;
      mz.push_back(p.mz);
      intensity.push_back(static_cast<float>(
          std::max(1.0, p.baseline + p.height * std::exp(-0.5 * z * z) + noise())));
    }
    char time[40];
    const auto written = std::to_chars(time, time + sizeof time - 1, t);
    *written.ptr = '\0';
    out << "      <spectrum index=\"" << s << "\" id=\"scan=" << s + 1
        << "\" defaultArrayLength=\"" << mz.size() << "\">\n"
        << "        <cvParam cvRef=\"MS\" accession=\"MS:1000511\" name=\"ms level\" "
           "value=\"1\"/>\n"
        << "        <cvParam cvRef=\"MS\" accession=\"MS:1000127\" name=\"centroid "
           "spectrum\" value=\"\"/>\n"
        << "        <scanList count=\"1\"><scan>\n"
        << "          <cvParam cvRef=\"MS\" accession=\"MS:1000016\" name=\"scan start "
           "time\" value=\""
        << time
        << "\" unitCvRef=\"UO\" unitAccession=\"UO:0000031\" unitName=\"minute\"/>\n"
        << "        </scan></scanList>\n"
        << "        <binaryDataArrayList count=\"2\">\n"
        << "          <binaryDataArray arrayLength=\"" << mz.size() << "\">\n"
        << "            <cvParam cvRef=\"MS\" accession=\"MS:1000523\" name=\"64-bit "
           "float\" value=\"\"/>\n"
        << "            <cvParam cvRef=\"MS\" accession=\"MS:1000576\" name=\"no "
           "compression\" value=\"\"/>\n"
        << "            <cvParam cvRef=\"MS\" accession=\"MS:1000514\" name=\"m/z "
           "array\" value=\"\"/>\n"
        << "            <binary>" << base64(mz.data(), mz.size() * sizeof(double))
        << "</binary>\n"
        << "          </binaryDataArray>\n"
        << "          <binaryDataArray arrayLength=\"" << intensity.size() << "\">\n"
        << "            <cvParam cvRef=\"MS\" accession=\"MS:1000521\" name=\"32-bit "
           "float\" value=\"\"/>\n"
        << "            <cvParam cvRef=\"MS\" accession=\"MS:1000576\" name=\"no "
           "compression\" value=\"\"/>\n"
        << "            <cvParam cvRef=\"MS\" accession=\"MS:1000515\" name=\"intensity "
           "array\" value=\"\"/>\n"
        << "            <binary>"
        << base64(intensity.data(), intensity.size() * sizeof(float)) << "</binary>\n"
        << "          </binaryDataArray>\n"
        << "        </binaryDataArrayList>\n"
        << "      </spectrum>\n";
  }
  out << "    </spectrumList>\n  </run>\n</mzML>\n";
}

}  // namespace vx::testing
