// Every text the runtime returns, logs or traces, in one place. Templates with "%1" are
// positional (util/format.h); those with "%s" are printf templates for Log and Trace.
#pragma once

#include "bridge/host_messages.h"  // the texts of failed host requests

namespace Vexa {

// Registration and start.
inline constexpr const char kIncompatibleVersionIdentifier[] = "ALE-EECF0606";
inline constexpr const char kIncompatibleVersionMessage[] =
    "%1 which supports plugin API %2 is not compatible with core's plugin API %3";
inline constexpr const char kUnknownPluginTypeLine[] = "            Plugin Manager| %s";
inline constexpr const char kUnknownPluginTypeMessage[] =
    "GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type";
inline constexpr const char kUserAgentTemplate[] = "VexaClient/%1 (%2)";
inline constexpr const char kPluginLogTargetName[] = "PluginLogTarget";
inline constexpr const char kRuntimeTag[] = "vclient";
inline constexpr const char kPluginTraceVariable[] = "VEXA_PLUGIN_TRACE";
inline constexpr const char kPluginsTag[] = "Plugins";
inline constexpr const char kPluginTagPrefix[] = "Plugin ";

// Host requests (the texts of failed ones are in bridge/host_messages.h).
inline constexpr const char kTelemetryUriPrefix[] = "/telemetry/v1/events/";

// Awaiting.
inline constexpr const char kBrokenFutureIdentifier[] = "ALE-6D828C10";
inline constexpr const char kBrokenFutureMessage[] =
    "Caught std::future_error in AppModule::Await: (%1) %2";
inline constexpr const char kWaitFutureLabel[] = "Wait: future<%1>";
inline constexpr const char kWaitYieldLabel[] = "Wait: yield";

// Events (trace lines).
inline constexpr const char kConvertPayloadTrace[] =
    "%s: Couldn't convert payload %s for event %.*s: %s";
inline constexpr const char kHandlingEventTrace[] = "%s: Handling event %.*s";
inline constexpr const char kSubscribingTrace[] = "%s: Subscribing to event: %s";
inline constexpr const char kUnsubscribingTrace[] = "%s: Unsubscribing to event: %s";
inline constexpr const char kSendingEventTrace[] = "%s: Sending event: %s";
inline constexpr const char kConvertResourceTrace[] =
    "%s: Couldn't convert resource %s for event uri \"%s\"";
inline constexpr const char kEventNotSentMessage[] =
    "Event not sent: %1 has no host form or the host offers no event entry";
inline constexpr const char kDroppedEventTrace[] = "%s: Dropped event %.*s: %s";

// Service proxy.
inline constexpr const char kFinalizingMessage[] = "Finalizing";
inline constexpr const char kInFlightMessage[] = "Request already in flight";
inline constexpr const char kConvertPayloadMessage[] =
    "Failed to convert type \"%1\" to BindingProperty for serialization";
inline constexpr const char kDeserializeMessage[] =
    "Failed to deserialize response payload \"%1\" to a %2";
inline constexpr const char kPreparingLine[] = "%s: Preparing service proxy request: %s";
inline constexpr const char kInFlightLine[] =
    "%s: Could not invoke service proxy as request is already in flight";
inline constexpr const char kStartedLine[] = "%s: Started service proxy request: %s (%s)";
inline constexpr const char kFulfilledLine[] = "%s: Fulfilled service proxy request: %s";
inline constexpr const char kNoAsyncHandlerLine[] =
    "%s: Could not find registered handler for async service proxy event %s";
inline constexpr const char kIgnoredAnswerTrace[] =
    "%s: Ignored service proxy answer %s: no request waits for it";
inline constexpr const char kUuidRequestUri[] = "/kor-login/v1/service-proxy-uuid-requests";
inline constexpr const char kMethodRequestUri[] = "/kor-login/v1/service-proxy-method-requests";

// Help texts of the declared events.
inline constexpr const char kJsonApiEventHelp[] = "Fired when a resource is changed.";
inline constexpr const char kLcdsEventHelp[] =
    "Fired when a message is received over the LCDS connection.";
inline constexpr const char kUuidEventHelp[] =
    "Fired when a uuid-based service proxy message is received.";
inline constexpr const char kMethodEventHelp[] =
    "Fired when a method-based service proxy message is received.";
inline constexpr const char kAsyncEventHelp[] =
    "Fired when an async service proxy message is received.";

// The value names of converted payloads, as messages quote them ("<result>" is
// kResultValueName, bridge/host_messages.h).
inline constexpr const char kValueName[] = "<value>";

}  // namespace Vexa
