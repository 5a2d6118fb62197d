// The plugin's one export. Everything else in the library is hidden (the build gives it hidden
// visibility and a version script that exports this symbol alone).
#include "runtime/entry.h"
#include "geoinfo/geoinfo_module.h"
#include "geoinfo/messages.h"
#include "vexa/host_contract.h"

// Never throws: LoadModule catches a failed allocation and leaves the record's out words zero.
extern "C" VEXA_PLUGIN_EXPORT void VEXA_HOST_CALL load_kor_geoinfo(HostLoadRecord* record) {
  Vexa::LoadModule<Vexa::Client::Api::GeoInfoModule>(record, Vexa::Client::Api::kGeoInfoShortName);
}
