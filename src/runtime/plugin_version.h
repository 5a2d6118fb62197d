// The plugin API version that a plugin and the host's core agree on, the compatibility rule
// between them, and how a plugin's names are composed.
//
//   const Vexa::PluginApiVersion core{18, 5, 0};
//   if (!Vexa::IsCompatible(core, Vexa::kPluginApiVersion)) { ... }        // 18.0.0 runs on 18.5.0
//   std::string text = Vexa::Format("core %1", core);                      // "core 18.5.0"
//   std::string full = Vexa::FullNameFromShortNameAndType("kor-geoinfo", "backend");
//                                                                          // "mdl-be-kor-geoinfo"
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Vexa {

// Three numbers and two labels. Only the numbers take part in the compatibility rule.
struct PluginApiVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t patch = 0;
  std::string preRelease;  // "-" and this when not empty
  std::string build;       // "+" and this when not empty
};

// The version this runtime implements.
inline const PluginApiVersion kPluginApiVersion{18, 0, 0, {}, {}};

// "18.0.0", then "-" and the pre-release label and "+" and the build label when present. Also
// the version's form in Format.
[[nodiscard]] std::string FormatText(const PluginApiVersion& version);

// A core runs a plugin when their majors are equal and the core's (minor, patch) is not below
// the plugin's, minor compared first.
[[nodiscard]] bool IsCompatible(const PluginApiVersion& core, const PluginApiVersion& plugin);

// "%1 which supports plugin API %2 is not compatible with core's plugin API %3", filled with the
// short name and both versions' numbers.
[[nodiscard]] std::string IncompatibleVersionText(std::string_view shortName,
                                                  const PluginApiVersion& plugin,
                                                  const PluginApiVersion& core);

// Who a plugin is: its full name, short name, type and the type's second text.
struct PluginIdentity {
  std::string fullName;
  std::string shortName;
  std::string type;
  std::string typeDetail;
};

// "mdl-be-kor-geoinfo (kor-geoinfo, backend)": the full name, then the short name and the type.
// Also the identity's form in Format.
[[nodiscard]] std::string FormatText(const PluginIdentity& identity);

// "mdl-be-" + shortName for the type "backend", "mdl-fe-" + shortName for "frontend". Any other
// type gives "mdl-xx-" + shortName and logs an error line saying so (group "DBG").
[[nodiscard]] std::string FullNameFromShortNameAndType(std::string_view shortName,
                                                       std::string_view type);

}  // namespace Vexa
