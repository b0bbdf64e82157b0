// The exported functions and the boundary records' layout.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "vx_steps.h"

namespace {

// A separately compiled host relies on these offsets.
static_assert(sizeof(StepValue) == 24);
static_assert(offsetof(StepValue, kind) == 0);
static_assert(offsetof(StepValue, data) == 8);
static_assert(offsetof(StepValue, size) == 16);
static_assert(sizeof(StepDescriptor) == 4 * sizeof(void*));
static_assert(offsetof(StepDescriptor, entry) == 2 * sizeof(void*));
static_assert(offsetof(HostContext, api) == 2 * sizeof(void*));
static_assert(sizeof(HostApi) == 8 * sizeof(void*));
static_assert(offsetof(HostApi, get_input_text) == 1 * sizeof(void*));
static_assert(offsetof(HostApi, set_output_number) == 4 * sizeof(void*));
static_assert(offsetof(HostApi, set_output_text) == 7 * sizeof(void*));

constexpr const char* kNames[5] = {"OperationStepDemo", "ReadMassSpecFiles",
                                   "GcMsMzmlIngestionStep", "GcMsSimTraceExtractionStep",
                                   "GcMsTargetedGaussianFitStep"};
constexpr const char* kDigests[5] = {
    "110bb286e1b9dc3fb19a62dd6a1528fc1a39c68ace537634efd37c1281965ced",
    "d7568b480c1c679c76d8feb28105d3ab967eabb5d5152f1ed0cddb8aad10705b",
    "b6b1c1476c3017c997ff9cecbe1f72bbda6cf5a65616d4223ea1954d8b71d315",
    "345fa1bd30425ef14482e3ca1bb7a6d47a9f8d72c3de87494b74f1f4a198bb28",
    "f18bbaada5ed7e3aad18bcd18faefb33156ea9c8f8db43fbb1b82b1b547a4dff"};

TEST(StepTable, ListWithNullReturnsFive) { EXPECT_EQ(vx_list_steps(nullptr), 5); }

TEST(StepTable, ListHoldsTheFiveIrisInTableOrder) {
  const char* const* iris = nullptr;
  ASSERT_EQ(vx_list_steps(&iris), 5);
  const std::string prefix = std::string("https://") + VX_VOCABULARY_HOST_FOR_TESTS +
                             "/vx#generated/vx/velloran/";
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(std::string(iris[i]), prefix + kNames[i]);
  }
}

TEST(StepTable, ResolveKnownIriCopiesTheRow) {
  const char* const* iris = nullptr;
  vx_list_steps(&iris);
  for (int i = 0; i < 5; ++i) {
    const std::string caller_copy = iris[i];
    StepDescriptor d{};
    d.reserved = 99;
    ASSERT_EQ(vx_resolve_step(caller_copy.c_str(), &d), 0);
    EXPECT_EQ(d.iri, iris[i]) << "the library's own text, not the caller's";
    EXPECT_STREQ(d.contract_digest, kDigests[i]);
    EXPECT_NE(d.entry, nullptr);
    EXPECT_EQ(d.reserved, 0u);
  }
}

TEST(StepTable, ResolveRefusesNearMissesAndNulls) {
  const char* const* iris = nullptr;
  vx_list_steps(&iris);
  const std::string iri = iris[0];
  std::string upper = iri;
  upper[upper.size() - 1] = static_cast<char>(std::toupper(upper.back()));
  upper[8] = static_cast<char>(std::toupper(upper[8]));
  const std::string cases[] = {upper, iri + "/", iri + " ", " " + iri,
                               iri.substr(0, iri.size() - 1), ""};
  for (const std::string& c : cases) {
    SCOPED_TRACE(c);
    StepDescriptor d{};
    d.iri = "untouched";
    EXPECT_EQ(vx_resolve_step(c.c_str(), &d), -1);
    EXPECT_STREQ(d.iri, "untouched");
  }
  StepDescriptor d{};
  EXPECT_EQ(vx_resolve_step(nullptr, &d), -1);
  EXPECT_EQ(vx_resolve_step(iri.c_str(), nullptr), -1);
}

}  // namespace
