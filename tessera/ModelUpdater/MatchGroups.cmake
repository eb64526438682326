# Platform match records and node groups, part of the platform section.
target_sources(tessera_registration PRIVATE
  MatchGroupsSupport.cpp
  PlatformMatchOperations.cpp
  NodeGroupOperations.cpp
)

vr_test(tessera_matchgroups_test SOURCES PlatformMatchOperations_test.cpp NodeGroupOperations_test.cpp
  MatchGroupsFaultSweep_test.cpp
  DEPS tessera_registration vr_wmi_testing vr_fault)
