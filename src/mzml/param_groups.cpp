// Collection of referenceableParamGroup elements as views into the document.
#include "mzml/param_groups.hpp"

namespace vx::mzml {

ParamGroups collect_param_groups(std::string_view text) {
  ParamGroups out;
  std::size_t pos = 0;
  std::size_t end = 0;
  for (;;) {
    const std::string_view group =
        find_element(text, "referenceableParamGroup", pos, end);
    if (group.empty()) break;
    // The id is read from the start tag alone, never from a child.
    const std::string_view start_tag = group.substr(0, group.find('>'));
    const std::string_view id = attribute_value(start_tag, "id");
    if (!id.empty()) out.groups.emplace_back(id, group);
    pos = end;
  }
  return out;
}

}  // namespace vx::mzml
