// The builtin types every BindingRegistry describes itself with: the help format enum, the
// help records, the asynchronous-operation state enum and the generic event records.
//
//   Vexa::BindingRegistry registry;
//   registry.Initialize();   // empties the registry, then calls RegisterBuiltinTypes(registry)
#pragma once

#include <string_view>

namespace Vexa {

class BindingRegistry;

// The tag of every builtin type and of the builtin "OnCallback" event.
inline constexpr std::string_view kBuiltinTag = "$builtin";

// Registers the fifteen builtin types in their fixed order (BindingHelpFormat, the
// BindingFull... help records, BindingAsyncState, then the generic event records) into an
// empty registry. BindingRegistry::Initialize calls it and afterwards registers the
// "OnCallback" event on BindingCallbackEvent itself.
void RegisterBuiltinTypes(BindingRegistry& registry);

}  // namespace Vexa
