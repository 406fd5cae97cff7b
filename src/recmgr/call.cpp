// Placeholder: the call layer lands with the spine.
#include "recmgr/recmgr.h"

namespace {
RecordManagerEntryFn boundEntry = nullptr;
}

FileSlot FileSlots[SLOT_COUNT];

void SetRecordManagerEntry(RecordManagerEntryFn entry) { boundEntry = entry; }
