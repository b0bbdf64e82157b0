// Loads the step library by path with dlopen, as a workflow engine does, and
// resolves its steps through the two exported functions only.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vx_steps.h"

namespace vx::host::plugin {

class StepLibrary {
 public:
  // Opens the library at path; error() says why when it did not load.
  explicit StepLibrary(const std::string& path);
  ~StepLibrary();
  StepLibrary(const StepLibrary&) = delete;
  StepLibrary& operator=(const StepLibrary&) = delete;

  bool loaded() const { return list_ != nullptr && resolve_ != nullptr; }
  const std::string& error() const { return error_; }

  std::vector<std::string> iris() const;
  // The descriptor whose IRI ends in "/" + name (or equals name itself).
  std::optional<StepDescriptor> find(std::string_view name_or_iri) const;

  // Where the library is looked for when no path is given: $VX_STEPS_LIBRARY,
  // else next to the program, else the installed plugin folder.
  static std::string default_path(const char* argv0);

 private:
  void* handle_ = nullptr;
  decltype(&vx_list_steps) list_ = nullptr;
  decltype(&vx_resolve_step) resolve_ = nullptr;
  std::string error_;
};

}  // namespace vx::host::plugin
