// Placeholder: the dictionaries land with the table pass.
#include "dictionary/dictionary.h"
