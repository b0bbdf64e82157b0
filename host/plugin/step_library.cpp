// dlopen-based loading of the step library.
#include "step_library.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

#ifndef VX_PLUGIN_DIR
#define VX_PLUGIN_DIR ""
#endif

namespace vx::host::plugin {

StepLibrary::StepLibrary(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error_ = why != nullptr ? why : "cannot load " + path;
    return;
  }
  list_ = reinterpret_cast<decltype(list_)>(dlsym(handle_, "vx_list_steps"));
  resolve_ = reinterpret_cast<decltype(resolve_)>(dlsym(handle_, "vx_resolve_step"));
  if (!loaded()) error_ = path + " does not export vx_list_steps and vx_resolve_step";
}

StepLibrary::~StepLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

std::vector<std::string> StepLibrary::iris() const {
  std::vector<std::string> out;
  if (!loaded()) return out;
  const char* const* list = nullptr;
  const int32_t n = list_(&list);
  for (int32_t i = 0; i < n && list != nullptr; ++i) out.emplace_back(list[i]);
  return out;
}

std::optional<StepDescriptor> StepLibrary::find(std::string_view name_or_iri) const {
  for (const std::string& iri : iris()) {
    const bool by_name = iri.size() > name_or_iri.size() &&
                         iri.compare(iri.size() - name_or_iri.size(), name_or_iri.size(),
                                     name_or_iri) == 0 &&
                         iri[iri.size() - name_or_iri.size() - 1] == '/';
    if (iri == name_or_iri || by_name) {
      StepDescriptor d{};
      if (resolve_(iri.c_str(), &d) == 0) return d;
    }
  }
  return std::nullopt;
}

std::string StepLibrary::default_path(const char* argv0) {
  if (const char* env = std::getenv("VX_STEPS_LIBRARY"); env != nullptr && *env != '\0') {
    return env;
  }
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec && argv0 != nullptr) self = fs::absolute(argv0, ec);
  const fs::path beside = self.parent_path() / "vx_velloran_steps.so";
  if (fs::exists(beside, ec)) return beside.string();
  const fs::path installed =
      self.parent_path().parent_path() / VX_PLUGIN_DIR / "vx_velloran_steps.so";
  if (fs::exists(installed, ec)) return installed.string();
  return "vx_velloran_steps.so";
}

}  // namespace vx::host::plugin
