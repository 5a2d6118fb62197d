#include "dispatch/bound_function.h"

#include <exception>

#include "dispatch/messages.h"
#include "util/format.h"

namespace Vexa {
namespace {

// The message for the exception being handled.
std::string CurrentExceptionMessage(std::string_view functionName) {
  try {
    throw;
  } catch (const std::exception& error) {
    return Format(kCallThrewMessage, functionName, error.what());
  } catch (...) {
    return Format(kCallThrewUnknownMessage, functionName);
  }
}

}  // namespace

bool BoundFunctionInvoker::ConvertArguments(HttpCallState& state,
                                            std::span<const BindingProperty> arguments,
                                            std::span<void* const> natives,
                                            std::span<const BindingNativeType> types) const {
  // A dispatcher sizes the values to the descriptor's argument list; anything shorter is
  // treated as values not given, so that a required argument is reported, not read past.
  const BindingProperty missing;
  BindingResult result;
  for (std::size_t index = 0; index < natives.size(); ++index) {
    const BindingProperty& input = index < arguments.size() ? arguments[index] : missing;
    const std::string_view name =
        index < function_->arguments.size() ? function_->arguments[index].name : std::string_view();
    if (!ConvertToNative(result, natives[index], types[index], input, name, Registry())) {
      state.Fail(result.ErrorText());
      state.status = kBadArgumentsStatus;
      return false;
    }
  }
  return true;
}

void BoundFunctionInvoker::StoreValue(HttpCallState& state, const void* native,
                                      const BindingNativeType& type) const {
  BindingResult converted;
  if (!ConvertToValue(converted, native, type, Registry())) {
    state.Fail(converted.ErrorText());
    return;
  }
  state.result = std::move(converted);
}

void BoundFunctionInvoker::FailWithCurrentException(HttpCallState& state) const noexcept {
  state.status = state.status == 0 ? kPluginFailureStatus : state.status;
  try {
    state.Fail(CurrentExceptionMessage(function_->name));
  } catch (...) {
    // No memory left to describe the failure: it is still reported as one, without a message.
    state.result.FailWithoutMessage();
    state.bodyStream.reset();
  }
}

void BoundFunctionInvoker::FailUnprepared(HttpCallState& state) const {
  state.Fail(Format(kCallUnpreparedMessage, function_->name));
  state.status = kPluginFailureStatus;
}

void BoundFunctionInvoker::CopyResponseData(HttpCallState& state, uint8_t flags, uint32_t format,
                                            uint32_t status, std::string&& text,
                                            HttpHeaderMap&& headers) {
  state.responseFlags = flags;
  state.responseFormat = format;
  state.status = status;
  state.responseText = std::move(text);
  state.headers = std::move(headers);
}

void BoundFunctionInvoker::DescribeArgument(BindingFunctionDescriptor& function, std::size_t index,
                                            const BindingNativeType& type) {
  BindingRegistry::SetArgument(function, index, type.type, type.optional != nullptr);
}

const RemotingRequest& BoundFunctionInvoker::NoRequestRecord() {
  static const RemotingRequest none;
  return none;
}

}  // namespace Vexa
