#include "runtime/plugin_version.h"

#include <tuple>

#include "diagnostics/log.h"
#include "runtime/messages.h"
#include "util/format.h"

namespace Vexa {

std::string FormatText(const PluginApiVersion& version) {
  std::string text = Format("%1.%2.%3", version.major, version.minor, version.patch);
  if (!version.preRelease.empty()) {
    text += '-';
    text += version.preRelease;
  }
  if (!version.build.empty()) {
    text += '+';
    text += version.build;
  }
  return text;
}

bool IsCompatible(const PluginApiVersion& core, const PluginApiVersion& plugin) {
  return core.major == plugin.major &&
         std::tie(core.minor, core.patch) >= std::tie(plugin.minor, plugin.patch);
}

std::string IncompatibleVersionText(std::string_view shortName, const PluginApiVersion& plugin,
                                    const PluginApiVersion& core) {
  // The message names the numbers only, as the rule reads only them.
  const auto numbers = [](const PluginApiVersion& version) {
    return Format("%1.%2.%3", version.major, version.minor, version.patch);
  };
  return Format(kIncompatibleVersionMessage, shortName, numbers(plugin), numbers(core));
}

std::string FormatText(const PluginIdentity& identity) {
  return Format("%1 (%2, %3)", identity.fullName, identity.shortName, identity.type);
}

std::string FullNameFromShortNameAndType(std::string_view shortName, std::string_view type) {
  std::string prefix;
  if (type == "backend") {
    prefix = "mdl-be-";
  } else if (type == "frontend") {
    prefix = "mdl-fe-";
  } else {
    prefix = "mdl-xx-";
    const std::string message = Format(kUnknownPluginTypeMessage, shortName, type);
    Log(kLevelError, kGroupDebug, kUnknownPluginTypeLine, message.c_str());
  }
  return prefix + std::string(shortName);
}

}  // namespace Vexa
