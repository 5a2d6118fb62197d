// Initialisation lives apart from the rest of the registry so that code which builds its own
// registries without the builtin types links without them.
#include "binding/builtin_types.h"
#include "binding/registry.h"

namespace Vexa {
namespace {

constexpr std::string_view kCallbackEventName = "OnCallback";
constexpr std::string_view kCallbackEventType = "BindingCallbackEvent";
constexpr std::string_view kCallbackEventDescription = "Fired when a callback is invoked.";

}  // namespace

void BindingRegistry::Initialize() {
  Clear();
  RegisterBuiltinTypes(*this);
  RegisterEvent(kCallbackEventName, FindType(kCallbackEventType))
      .SetDescription(kCallbackEventDescription)
      .AddTag(kBuiltinTag);
  MarkInitialized();
}

}  // namespace Vexa
