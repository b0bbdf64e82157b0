// Helpers shared by the step tests: resolving a step by name through the real
// table, reading files, and locating the shared sample folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "host_session.hpp"
#include "vx_steps.h"

namespace vx::testing {

// The entry of the step whose IRI ends in "/" + name.
inline StepEntry step_entry(std::string_view name) {
  const char* const* iris = nullptr;
  const int32_t n = vx_list_steps(&iris);
  for (int32_t i = 0; i < n; ++i) {
    const std::string_view iri = iris[i];
    if (iri.size() > name.size() && iri.substr(iri.size() - name.size()) == name &&
        iri[iri.size() - name.size() - 1] == '/') {
      StepDescriptor d{};
      if (vx_resolve_step(iris[i], &d) == 0) return d.entry;
    }
  }
  ADD_FAILURE() << "no step named " << name;
  return nullptr;
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline std::filesystem::path test_data(std::string_view relative) {
  return std::filesystem::path(VX_TEST_DATA_DIR) / relative;
}

// A file of the shared sample folder; empty when the folder is absent (the
// caller then skips).
inline std::filesystem::path shared_file(std::string_view relative) {
  const auto p = std::filesystem::path(VX_SHARED_DIR) / relative;
  return std::filesystem::exists(p) ? p : std::filesystem::path();
}

// A fresh folder under /tmp, removed with everything in it on destruction.
struct ScratchDir {
  std::filesystem::path path;

  ScratchDir() {
    char tmpl[] = "/tmp/vx_test_XXXXXX";
    const char* made = mkdtemp(tmpl);
    if (made == nullptr) ADD_FAILURE() << "cannot make a scratch folder";
    path = made != nullptr ? made : "/tmp";
  }
  ~ScratchDir() {
    std::error_code ec;
    if (path != "/tmp") std::filesystem::remove_all(path, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string operator/(const std::string& name) const { return (path / name).string(); }

  // Writes bytes to a file of the folder and returns its path.
  std::filesystem::path write(const std::string& name, std::string_view bytes) const {
    const auto p = path / name;
    std::ofstream(p, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return p;
  }
};

// Reports the first differing offset of two documents.
inline ::testing::AssertionResult same_bytes(std::string_view got, std::string_view want) {
  if (got == want) return ::testing::AssertionSuccess();
  std::size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  const std::size_t from = i < 40 ? 0 : i - 40;
  return ::testing::AssertionFailure()
         << "documents differ at offset " << i << " (sizes " << got.size() << " and "
         << want.size() << ")\n got: ..." << got.substr(from, 120) << "\nwant: ..."
         << want.substr(from, 120);
}

}  // namespace vx::testing
