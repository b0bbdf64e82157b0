// Inputs built to make a step allocate far more than their size implies:
// declared counts that promise billions of values, brackets nested ten
// million deep and numbers millions of digits long. Each must end with the
// ordinary documents or a diagnostics document, never an abort. The costly
// cases (gigabyte files, peak memory) live in bench/limits.sh.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "host_session.hpp"
#include "test_support.hpp"

namespace {

using vx::host::plugin::HostSession;
using vx::testing::ScratchDir;
using vx::testing::step_entry;

constexpr std::size_t kDeep = 10'000'000;

// One spectrum whose m/z array holds the two binary64 values 1 and 2.5,
// plain or zlib-compressed, under the given arrayLength attribute.
std::string one_spectrum(const std::string& array_length, bool zlib,
                         const std::string& spectrum_count = "1") {
  const std::string binary = zlib ? "eJxjYACBD/ZgioHFAQAL7wF0" : "AAAAAAAA8D8AAAAAAAAEQA==";
  return "<?xml version=\"1.0\"?><mzML><run><spectrumList count=\"" + spectrum_count +
         "\"><spectrum index=\"0\"><scan><cvParam name=\"scan start time\" "
         "value=\"1.5\" unitName=\"minute\"/></scan><binaryDataArrayList>"
         "<binaryDataArray arrayLength=\"" +
         array_length +
         "\"><cvParam name=\"m/z array\"/><cvParam name=\"64-bit float\"/>" +
         (zlib ? "<cvParam name=\"zlib compression\"/>" : "") + "<binary>" + binary +
         "</binary></binaryDataArray></binaryDataArrayList></spectrum>"
         "</spectrumList></run></mzML>";
}

struct IngestCase {
  const char* name;
  std::string document;
  const char* expect;  // a piece of output 2
};

TEST(Limits, DeclaredCountsAreNeverReserved) {
  const std::vector<IngestCase> cases = {
      {"largest 64-bit count", one_spectrum("18446744073709551615", false),
       R"("mz_array":[1,2.5])"},
      {"minus one", one_spectrum("-1", false), R"("mz_array":[1,2.5])"},
      {"2^40", one_spectrum("1099511627776", false), R"("mz_array":[1,2.5])"},
      {"zlib, largest count", one_spectrum("18446744073709551615", true),
       R"("mz_array":[1,2.5])"},
      {"zlib, 2^40", one_spectrum("1099511627776", true), R"("mz_array":[1,2.5])"},
      // Nothing is reserved from the declared count; one spectrum of that
      // many is an incomplete file.
      {"huge spectrum count", one_spectrum("2", false, "18446744073709551615"),
       R"j({"gcms.ingest.incomplete_file":true,"reason":"1 of 18446744073709551615 spectra"})j"},
      {"count past 64 bits", one_spectrum("99999999999999999999999", false),
       R"({"gcms.ingest.malformed_number":true})"},
  };
  const ScratchDir dir;
  for (const IngestCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.write("limits.mzML", c.document).string();
    HostSession host;
    const StepValue params[] = {host.text(path), host.text("")};
    EXPECT_EQ(host.run(step_entry("GcMsMzmlIngestionStep"), params, {}, 3), 0);
    const auto spectra = host.output_text(2);
    ASSERT_TRUE(spectra.has_value());
    EXPECT_NE(spectra->find(c.expect), std::string::npos) << spectra->substr(0, 300);
  }
}

struct InputCase {
  const char* name;
  const char* step;
  std::vector<std::string> params;
  std::string input;
  const char* expect;  // a piece of output 1
};

std::vector<InputCase> pathological_inputs() {
  const std::vector<std::string> trace = {"", "0.5", "73"};
  const std::vector<std::string> fit = {"100", "0.5", "1.5"};
  const std::string opens(kDeep, '[');
  const std::string braces(kDeep, '{');
  const std::string digits(kDeep, '7');
  const char* const empty_trace = R"("matched_ion_count":0,)";
  const char* const no_peak = R"("fit_status":"no_local_peak")";
  const char* const too_few = R"("fit_status":"unstable_fit")";  // under 4 points
  return {
      {"trace: brackets only", "GcMsSimTraceExtractionStep", trace, opens, empty_trace},
      {"trace: braces only", "GcMsSimTraceExtractionStep", trace, braces, empty_trace},
      {"trace: spectra nested", "GcMsSimTraceExtractionStep", trace,
       R"({"spectra":)" + opens, empty_trace},
      {"trace: one entry never closed", "GcMsSimTraceExtractionStep", trace,
       R"({"spectra":[)" + braces, empty_trace},
      {"trace: closed deep entry", "GcMsSimTraceExtractionStep", trace,
       R"({"spectra":[{"mz_array":)" + opens + std::string(kDeep, ']') + "}]}",
       empty_trace},
      {"trace: ten-million-digit m/z", "GcMsSimTraceExtractionStep", trace,
       R"({"spectra":[{"scan_start_time":1,"mz_array":[)" + digits +
           R"(],"intensity_array":[5]}]})",
       empty_trace},
      {"fit: brackets only", "GcMsTargetedGaussianFitStep", fit, opens, no_peak},
      {"fit: nested time list", "GcMsTargetedGaussianFitStep", fit,
       R"({"retention_time":)" + opens + R"(,"intensity":)" + opens, no_peak},
      {"fit: nested lists closed", "GcMsTargetedGaussianFitStep", fit,
       R"({"retention_time":)" + opens + "1" + std::string(kDeep, ']') +
           R"(,"intensity":[[[2]]]})",
       too_few},
      {"fit: ten-million-digit time", "GcMsTargetedGaussianFitStep", fit,
       R"({"retention_time":[1,2,)" + digits + R"(],"intensity":[1,2,3]})", too_few},
  };
}

TEST(Limits, PathologicalInputsEndWithDocuments) {
  for (const InputCase& c : pathological_inputs()) {
    SCOPED_TRACE(c.name);
    HostSession host;
    std::vector<StepValue> params;
    for (const std::string& p : c.params) params.push_back(host.text(p));
    const StepValue inputs[] = {host.text(c.input)};
    EXPECT_EQ(host.run(step_entry(c.step), params, inputs, 2), 0);
    const auto result = host.output_text(1);
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(host.output_text(0).has_value());
    EXPECT_NE(result->find(c.expect), std::string::npos) << result->substr(0, 300);
    // A document of its own size, not one that grew with the nesting.
    EXPECT_LT(result->size(), 4096u);
  }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kAddressSpaceLimitWorks = false;  // the shadow memory needs terabytes
#else
constexpr bool kAddressSpaceLimitWorks = true;
#endif

// One gzip member holding text.
std::string gzip_member(const std::string& text) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(9);
  std::string out(libdeflate_gzip_compress_bound(c, text.size()), '\0');
  out.resize(libdeflate_gzip_compress(c, text.data(), text.size(), out.data(), out.size()));
  libdeflate_free_compressor(c);
  return out;
}

std::size_t mapped_bytes() {
  std::ifstream in("/proc/self/statm");
  std::size_t pages = 0;
  in >> pages;
  return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// A gzip file of a few hundred kilobytes whose members inflate to 300 MB
// of blanks, read with 128 MB of address space to spare: the allocation
// fails inside the reader, and the step must report status 2 without
// offering any output rather than abort.
TEST(Limits, ExhaustedMemoryIsInvalidInputWithoutOutputs) {
  if (!kAddressSpaceLimitWorks) GTEST_SKIP() << "address-space limits and sanitizers clash";
  const ScratchDir dir;
  std::string file = gzip_member("<mzML><run><spectrumList>");
  const std::string blanks = gzip_member(std::string(std::size_t{1} << 20, ' '));
  for (int i = 0; i < 300; ++i) file += blanks;
  file += gzip_member("</spectrumList></run></mzML>");
  const std::string path = dir.write("bomb.mzML.gz", file).string();

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlim_t limit = mapped_bytes() + (rlim_t{128} << 20);
    const rlimit r{limit, limit};
    if (setrlimit(RLIMIT_AS, &r) != 0) _exit(100);
    HostSession host;
    const StepValue params[] = {host.text(path), host.text("")};
    const StepStatus status = host.run(step_entry("GcMsMzmlIngestionStep"), params, {}, 3);
    _exit(status * 10 + static_cast<int>(host.output_calls()));
  }
  int wstatus = 0;
  ASSERT_EQ(waitpid(child, &wstatus, 0), child);
  ASSERT_TRUE(WIFEXITED(wstatus)) << "the step aborted";
  EXPECT_EQ(WEXITSTATUS(wstatus), 20) << "status * 10 + output calls";
}

}  // namespace
