// The ADO connection object that CDepotData owns, shared by its source files.
#pragma once
#include "platform/ado/ado.h"

namespace ado {
class Connection {
 public:
  ADODB::ConnectionPtr ptr;
};
}  // namespace ado
