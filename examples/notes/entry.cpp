// The plugin's one export; vexa_add_plugin hides everything else.
#include "runtime/entry.h"
#include "notes_module.h"
#include "vexa/host_contract.h"

extern "C" VEXA_PLUGIN_EXPORT void VEXA_HOST_CALL load_kor_notes(HostLoadRecord* record) {
  Vexa::LoadModule<Notes::NotesModule>(record, "kor-notes");
}
