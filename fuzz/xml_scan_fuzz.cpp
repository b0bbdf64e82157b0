// XML scanning on any bytes: every result must be a view inside the input,
// sibling walks must make progress, and nothing may read outside the input.
// The input is "tag\nname\nS" followed by the text, S being the start offset
// byte; missing parts are empty.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "mzml/xml_scan.hpp"

namespace {

void check_inside(std::string_view part, std::string_view whole) {
  if (part.empty()) return;
  if (part.data() < whole.data() ||
      part.data() + part.size() > whole.data() + whole.size()) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const auto take_line = [&in] {
    const std::size_t nl = in.find('\n');
    const std::string_view line = in.substr(0, std::min(nl, in.size()));
    in.remove_prefix(
        std::min(nl == std::string_view::npos ? in.size() : nl + 1, in.size()));
    return std::string(line.substr(0, 32));
  };
  const std::string tag = take_line();
  const std::string name = take_line();
  std::size_t start = 0;
  if (!in.empty()) {
    start = static_cast<unsigned char>(in[0]) % 65;
    in.remove_prefix(1);
  }
  const std::string rest(in);
  // An exactly sized heap copy so the sanitizer sees any over-read.
  const std::unique_ptr<char[]> buf(new char[rest.size()]);
  std::copy(rest.begin(), rest.end(), buf.get());
  const std::string_view text(buf.get(), rest.size());

  std::size_t pos = start;
  for (int guard = 0; guard < 10000; ++guard) {
    std::size_t end = 0;
    const std::string_view e = vx::mzml::find_element(text, tag, pos, end);
    if (e.empty()) break;
    check_inside(e, text);
    if (end <= pos || end > text.size()) std::abort();
    check_inside(vx::mzml::attribute_value(e, name), e);
    check_inside(vx::mzml::element_content(e, tag, 0), e);
    pos = end;
  }
  check_inside(vx::mzml::element_content(text, tag, start), text);
  check_inside(vx::mzml::attribute_value(text, name), text);
  const std::size_t found = vx::mzml::find_text(text, name, start);
  if (found != std::string_view::npos && found + name.size() > text.size()) std::abort();
  return 0;
}
