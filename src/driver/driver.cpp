// The driver's flow (placeholder until the dialogue is built).
#include "driver/driver.h"

#include "console/crt.h"

namespace svfit::driver {

void RunDriver(AnalysisState& st) {
  (void)st;
  console::WriteLn("svfit");
}

}  // namespace svfit::driver
