// Types shared by every operation of the platform model updater: the code of a planned change
// and the context that every apply operation receives.
#pragma once
#include <cstdint>

namespace PlatformOperations {

// What a planned change does; every change record carries one for the update and one for its
// undo.
enum UpdateAction : int32_t {
  ACTION_ADD = 0,
  ACTION_REMOVE = 1,
  ACTION_MODIFY = 2,
  NO_CHANGE = 3,
};

// The mode of an apply operation: what the run is doing with the change vectors.
enum OperationMode : int32_t {
  OP_REGISTER = 0x100,   // registration
  OP_UNINSTALL = 0x200,  // unregistration from an undo file
  OP_ROLLBACK = 0x400,   // undoing a failed registration
  OP_REINSTALL = 0x800,  // registration with the reinstall option
};

struct OperationContext {
  int32_t mode = OP_REGISTER;
  int32_t clusterMode = 0;  // 0 not clustered, 1 full, 2 local
  bool warnings = false;    // set by a step that completed with warnings only
};

}  // namespace PlatformOperations
