// The four dictionary record buffers: one per file, alive for the whole run.
// Each is first the data buffer of its file's Open, then the buffer every Get
// on that file reads into.
#include "dictionary/dictionary.h"

uint8_t FileRecord[FILE_RECORD_SIZE];
uint8_t FieldRecord[FIELD_RECORD_SIZE];
uint8_t IndexRecord[INDEX_RECORD_SIZE];
uint8_t AttribRecord[ATTRIB_RECORD_SIZE];
