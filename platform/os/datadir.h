// Where the programs find their installed data (registration DTD, seed MOF, demo files):
// VR_DATA_DIR when set; else share/vorant beside the program's bin folder when it exists; else
// the data folder of the source tree the program was built from.
#pragma once
#include <string>

namespace vr::os {

std::string DataDir();

}  // namespace vr::os
