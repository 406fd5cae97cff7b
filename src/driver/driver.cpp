// Placeholder: the driver lands with the spine.
#include "driver/driver.h"

RunOptionFlags RunOptions;
char OwnerName[50];
char CurrentTableName[21];
char CurrentFieldName[21];
char MessageName[66];

int ScrutorMain(int, char**) { return 1; }
