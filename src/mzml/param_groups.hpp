// cvParam walks that see referenceableParamGroup contents: a
// referenceableParamGroupRef counts as the group's cvParams standing where
// the reference stands. Groups are collected once per document as views.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "mzml/xml_scan.hpp"

namespace vx::mzml {

// The referenceableParamGroup elements of a document, by id.
struct ParamGroups {
  std::vector<std::pair<std::string_view, std::string_view>> groups;  // id, element text

  // The group's element text; empty when no group has that id.
  std::string_view find(std::string_view id) const {
    for (const auto& [gid, text] : groups) {
      if (gid == id) return text;
    }
    return {};
  }
};

// Every referenceableParamGroup element of text with a non-empty id. The
// reader passes the document up to its run element, where the list belongs.
ParamGroups collect_param_groups(std::string_view text);

// Calls visit(cvparam_text) for every cvParam element of text in document
// order, from offset 0, each referenceableParamGroupRef replaced by the
// cvParams of its group. Plain cvParams are found as a find_element walk
// finds them: the walk of plain ones ends at the first that cannot be read.
template <typename Visit>
void for_each_cv_param(std::string_view text, const ParamGroups& groups, Visit&& visit) {
  constexpr std::size_t kNone = std::string_view::npos;
  std::size_t pos = 0;
  // The next plain cvParam and the next reference at or after pos, each
  // searched again only once pos has passed it, so a text without
  // references is scanned for them once.
  std::string_view param;
  std::size_t param_at = kNone;
  std::size_t param_end = 0;
  bool params_done = false;
  std::string_view ref;
  std::size_t ref_at = kNone;
  std::size_t ref_end = 0;
  bool refs_done = groups.groups.empty();
  for (;;) {
    if (!params_done && (param_at == kNone || param_at < pos)) {
      param = find_element(text, "cvParam", pos, param_end);
      if (param.empty()) {
        params_done = true;
        param_at = kNone;
      } else {
        param_at = static_cast<std::size_t>(param.data() - text.data());
      }
    }
    if (!refs_done && (ref_at == kNone || ref_at < pos)) {
      ref = find_element(text, "referenceableParamGroupRef", pos, ref_end);
      if (ref.empty()) {
        refs_done = true;
        ref_at = kNone;
      } else {
        ref_at = static_cast<std::size_t>(ref.data() - text.data());
      }
    }
    const bool have_param = !params_done;
    const bool have_ref = !refs_done;
    if (!have_param && !have_ref) return;
    if (have_param && (!have_ref || param_at < ref_at)) {
      visit(param);
      pos = param_end;
    } else {
      const std::string_view group = groups.find(attribute_value(ref, "ref"));
      std::size_t gpos = 0;
      std::size_t gend = 0;
      for (;;) {
        const std::string_view p = find_element(group, "cvParam", gpos, gend);
        if (p.empty()) break;
        visit(p);
        gpos = gend;
      }
      pos = ref_end;
    }
  }
}

}  // namespace vx::mzml
