// vxrun: a command-line workflow host for the step library. It loads the
// library with dlopen and calls steps only through the exported functions.
//   vxrun list
//   vxrun run STEP [-p TEXT] [-n NUMBER] [-i FILE] [-I TEXT] [-o N] [-d DIR]
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "host_session.hpp"
#include "step_library.hpp"

namespace {

constexpr const char kUsage[] =
    "usage: vxrun [--library PATH] list\n"
    "       vxrun [--library PATH] run STEP [options]\n"
    "\n"
    "run options (repeatable, in slot order):\n"
    "  -p TEXT     a text parameter\n"
    "  -n NUMBER   a Float64 parameter\n"
    "  -i FILE     an input whose text is the file's bytes\n"
    "  -I TEXT     an input given as text\n"
    "  -o N        number of output slots (default 3)\n"
    "  -d DIR      write output slot k to DIR/output_k.json instead of stdout\n"
    "\n"
    "STEP is a step name (e.g. OperationStepDemo) or a full IRI. The exit code\n"
    "is the step's status. The library is $VX_STEPS_LIBRARY, or the\n"
    "vx_velloran_steps.so beside this program, or the installed plugin.\n";

bool read_file(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return true;
}

int run_step(const vx::host::StepLibrary& lib, int argc, char** argv, int i) {
  if (i >= argc) {
    std::cerr << kUsage;
    return 64;
  }
  const auto step = lib.find(argv[i++]);
  if (!step) {
    std::cerr << "vxrun: unknown step " << argv[i - 1] << "\n";
    return 64;
  }
  vx::host::HostSession session;
  std::vector<StepValue> params;
  std::vector<StepValue> inputs;
  uint64_t n_outputs = 3;
  std::string out_dir;
  for (; i < argc; ++i) {
    const std::string opt = argv[i];
    if (i + 1 >= argc) {
      std::cerr << "vxrun: " << opt << " needs a value\n";
      return 64;
    }
    const std::string val = argv[++i];
    if (opt == "-p") {
      params.push_back(session.text(val));
    } else if (opt == "-n") {
      params.push_back(session.text(val));
      params.back().kind = VX_KIND_TEXT;
    } else if (opt == "-i") {
      std::string bytes;
      if (!read_file(val, bytes)) {
        std::cerr << "vxrun: cannot read " << val << "\n";
        return 66;
      }
      inputs.push_back(session.text(bytes));
    } else if (opt == "-I") {
      inputs.push_back(session.text(val));
    } else if (opt == "-o") {
      n_outputs = std::stoull(val);
    } else if (opt == "-d") {
      out_dir = val;
    } else {
      std::cerr << "vxrun: unknown option " << opt << "\n" << kUsage;
      return 64;
    }
  }
  const StepStatus status = session.run(step->entry, params, inputs, n_outputs);
  for (const vx::host::HostCall& c : session.calls()) {
    if (c.kind == vx::host::HostCall::Kind::kGetInputText) continue;
    std::string text = c.kind == vx::host::HostCall::Kind::kSetOutputText
                           ? c.text
                           : std::to_string(c.number);
    if (out_dir.empty()) {
      std::cout << "output " << c.slot << ": " << text << "\n";
    } else {
      std::filesystem::create_directories(out_dir);
      std::ofstream(out_dir + "/output_" + std::to_string(c.slot) + ".json",
                    std::ios::binary)
          << text;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    int i = 1;
    std::string library_path;
    if (i + 1 < argc && std::strcmp(argv[i], "--library") == 0) {
      library_path = argv[i + 1];
      i += 2;
    }
    if (i >= argc || std::strcmp(argv[i], "--help") == 0) {
      std::cout << kUsage;
      return i >= argc ? 64 : 0;
    }
    if (library_path.empty()) library_path = vx::host::StepLibrary::default_path(argv[0]);
    const vx::host::StepLibrary lib(library_path);
    if (!lib.loaded()) {
      std::cerr << "vxrun: " << lib.error() << "\n";
      return 69;
    }
    const std::string command = argv[i++];
    if (command == "list") {
      for (const std::string& iri : lib.iris()) {
        const auto d = lib.find(iri);
        std::cout << iri << "\t" << (d ? d->contract_digest : "") << "\n";
      }
      return 0;
    }
    if (command == "run") return run_step(lib, argc, argv, i);
    std::cerr << "vxrun: unknown command " << command << "\n" << kUsage;
    return 64;
  } catch (const std::exception& e) {
    std::cerr << "vxrun: " << e.what() << "\n";
    return 70;
  }
}
