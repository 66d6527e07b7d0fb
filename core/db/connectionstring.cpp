#include "core/db/calldatabase.h"

std::string DefaultConnectionString() {
  return "DRIVER={SQL Server};SERVER=127.0.0.1,8033;UID=tarvex_cid;PWD=TarvexCall!;"
         "DATABASE=TarvexCID;";
}
