// Entry point: set up the standard streams and signals, bind this build's
// record manager once, then run.
#include <cstdio>

#include "driver/driver.h"
#include "driver/output_internal.h"
#include "driver/signals.h"
#include "recmgr/recmgr.h"

int main(int argc, char** argv) {
  PrepareStandardStreams();
  InstallSignalHandlers();
  SetRecordManagerEntry(BoundRecordManagerEntry);
  return ScrutorMain(argc, argv);
}
