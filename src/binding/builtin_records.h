// The native records and enums behind the builtin types that every registry describes itself
// with: the help format, the help records that describe functions, types and events, the
// asynchronous-operation state and the generic event records.
//
//   Vexa::BindingCallbackEvent event;
//   if (!Vexa::ToNative(result, event, payload, "<payload>", registry)) { ... }
//   for (const Vexa::BindingProperty& parameter : event.parameters) { ... }
//
// RegisterBuiltinTypes (builtin_types.h) registers them under the names of the types here, so
// the conversions of conversion.h work on them once BindingRegistry::Initialize has run.
// Plain data: every member is owned by its record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/static_type.h"
#include "value/property.h"

namespace Vexa {

// How help texts are written (registered with enumerators Full and Epytext).
enum class BindingHelpFormat : int32_t {
  Full = 1,     // the native help format
  Epytext = 2,  // Python's epytext
};
VEXA_STATIC_TYPE(BindingHelpFormat, "enum Vexa::BindingHelpFormat");

// The states of an asynchronous operation, None (invalid) through Failed.
enum class BindingAsyncState : int32_t {
  None = 0,
  Running = 1,
  Cancelling = 2,
  Cancelled = 3,
  Succeeded = 4,
  Failed = 5,
};
VEXA_STATIC_TYPE(BindingAsyncState, "enum Vexa::BindingAsyncState");

// --- Help records ---

// A type as help shows it: the type name, and for containers the element's.
struct BindingFullTypeIdentifier {
  std::string type;
  std::string elementType;
};
VEXA_STATIC_TYPE(BindingFullTypeIdentifier, "struct Vexa::BindingFullTypeIdentifier");

struct BindingFullArgumentHelp {
  std::string name;
  std::string description;
  BindingFullTypeIdentifier type;
  bool optional = false;
};
VEXA_STATIC_TYPE(BindingFullArgumentHelp, "struct Vexa::BindingFullArgumentHelp");

struct BindingFullFunctionHelp {
  std::string name;
  std::string nameSpace;
  std::vector<BindingFullArgumentHelp> arguments;
  BindingFullTypeIdentifier returns;
  std::string description;
  std::string help;
  bool threadSafe = false;
  std::string async;  // the async type's name, empty for a synchronous function
  std::vector<std::string> tags;
};
VEXA_STATIC_TYPE(BindingFullFunctionHelp, "struct Vexa::BindingFullFunctionHelp");

struct BindingFullEnumValueHelp {
  std::string name;
  std::string description;
  int32_t value = 0;
};
VEXA_STATIC_TYPE(BindingFullEnumValueHelp, "struct Vexa::BindingFullEnumValueHelp");

struct BindingFullFieldHelp {
  std::string name;
  std::string description;
  uint32_t offset = 0;
  BindingFullTypeIdentifier type;
  bool optional = false;
};
VEXA_STATIC_TYPE(BindingFullFieldHelp, "struct Vexa::BindingFullFieldHelp");

struct BindingFullTypeHelp {
  std::string name;
  std::string nameSpace;
  uint32_t size = 0;
  std::string description;
  std::vector<std::string> tags;
  std::vector<BindingFullFieldHelp> fields;
  std::vector<BindingFullEnumValueHelp> values;
};
VEXA_STATIC_TYPE(BindingFullTypeHelp, "struct Vexa::BindingFullTypeHelp");

struct BindingFullEventHelp {
  std::string name;
  std::string nameSpace;
  BindingFullTypeIdentifier type;
  std::string description;
  std::vector<std::string> tags;
};
VEXA_STATIC_TYPE(BindingFullEventHelp, "struct Vexa::BindingFullEventHelp");

struct BindingFullApiHelp {
  std::vector<BindingFullFunctionHelp> functions;
  std::vector<BindingFullTypeHelp> types;
  std::vector<BindingFullEventHelp> events;
};
VEXA_STATIC_TYPE(BindingFullApiHelp, "struct Vexa::BindingFullApiHelp");

// --- Generic event records ---

struct BindingGenericEvent {
  BindingProperty data;
};
VEXA_STATIC_TYPE(BindingGenericEvent, "struct Vexa::BindingGenericEvent");

// The payload of the builtin "OnCallback" event.
struct BindingCallbackEvent {
  uint32_t id = 0;  // the callback being invoked
  std::vector<BindingProperty> parameters;
};
VEXA_STATIC_TYPE(BindingCallbackEvent, "struct Vexa::BindingCallbackEvent");

struct BindingGenericAsyncEvent {
  uint32_t asyncToken = 0;
  BindingProperty data;
};
VEXA_STATIC_TYPE(BindingGenericAsyncEvent, "struct Vexa::BindingGenericAsyncEvent");

struct BindingAsyncFailureEvent {
  uint32_t asyncToken = 0;
  std::string error;
};
VEXA_STATIC_TYPE(BindingAsyncFailureEvent, "struct Vexa::BindingAsyncFailureEvent");

struct BindingAsyncCancelEvent {
  uint32_t asyncToken = 0;
};
VEXA_STATIC_TYPE(BindingAsyncCancelEvent, "struct Vexa::BindingAsyncCancelEvent");

}  // namespace Vexa
