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
  int code = ScrutorMain(argc, argv);
  // A signal noted after the last record-manager call still ends the process
  // by that signal, after the output is flushed.
  ServicePendingSignal();
  return code;
}
