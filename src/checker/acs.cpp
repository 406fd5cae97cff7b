// Placeholder: lands with the checker.
#include "checker/checker.h"
