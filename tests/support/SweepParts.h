// A long sweep (every fault point of a run, every kill point) split into parts, each part a
// test of its own, so that the test run spreads the parts over the processors instead of one
// test holding one processor for minutes while the other idles. Every part works out the whole
// list of points, then takes its share: part k of n the points k, k+n, k+2n, ..., so that each
// part has points from all over the run. Together the parts cover every point once.
//
//   class XSweep : public X, public ::testing::WithParamInterface<int> {};
//   TEST_P(XSweep, EveryFaultPoint...) { for (p : vr::testing::SweepPart(points, GetParam(), kParts)) ... }
//   INSTANTIATE_TEST_SUITE_P(Part, XSweep, ::testing::Range(0, kParts));
#pragma once
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace vr::testing {

template <class T>
std::vector<T> SweepPart(const std::vector<T>& all, int part, int parts) {
  std::vector<T> share;
  if (parts <= 0 || part < 0 || part >= parts) return share;
  for (size_t i = static_cast<size_t>(part); i < all.size(); i += static_cast<size_t>(parts)) share.push_back(all[i]);
  return share;
}

// Whether the point at `index` of the whole list belongs to the part: for sweeps that look at
// a point's neighbours.
inline bool InSweepPart(size_t index, int part, int parts) {
  return parts > 0 && index % static_cast<size_t>(parts) == static_cast<size_t>(part);
}

// A name for files and folders of the current test: its gtest name with the characters a
// path must not have ('/' of a parameterised test) replaced.
inline std::string PathSafe(std::string name) {
  for (char& c : name)
    if (c == '/' || c == ' ') c = '_';
  return name;
}

// The running test's name made path-safe, for the names of its folders ("test" outside a test).
inline std::string CurrentTestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return PathSafe(info ? info->name() : "test");
}

}  // namespace vr::testing
