// Entry point: bind this build's record manager once, then run.
#include "driver/driver.h"
#include "recmgr/recmgr.h"

int main(int argc, char** argv) {
  SetRecordManagerEntry(BoundRecordManagerEntry);
  return ScrutorMain(argc, argv);
}
