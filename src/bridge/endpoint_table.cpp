#include "bridge/endpoint_table.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "binding/descriptors.h"
#include "binding/registry.h"
#include "bridge/api_description.h"
#include "bridge/endpoint_handler.h"
#include "dispatch/endpoint.h"
#include "dispatch/http_call.h"

namespace Vexa {

// An endpoint's link is its function part's: a HostFunctionRecord pointer to the first member
// of the next endpoint record, which is that record's address.
static_assert(offsetof(HostEndpointRecord, function) == 0);

// Everything one Build makes. As in the API description, inner vectors are moved but never
// resized once their records were pointed at.
struct EndpointTable::Arrays {
  BindingApiDescription description;
  std::vector<HostEndpointRecord> endpoints;
  // One per endpoint, reserved before the first is added: the host is handed their addresses.
  std::vector<HostEndpointUserData> userData;
  std::vector<std::vector<HostArgumentLocation>> locations;  // one array per endpoint
  std::vector<std::vector<HostTextList>> textLists;          // one array per endpoint
  std::vector<std::vector<const char*>> texts;               // one pointer array per text list
  HostEndpointTable table{};

  void AddEndpoint(const RequestDispatcher& dispatcher, const EndpointRecord& endpoint);
  const HostArgumentLocation* KeepLocations(const std::vector<uint32_t>& declared);
  const HostTextList* KeepTextLists(const std::vector<std::vector<std::string>>& lists);
  const char* const* KeepTexts(const std::vector<std::string>& list);
  // Links the endpoint records and fills the table; runs once, after every endpoint was added.
  void Finish();
};

namespace {

// The host's table knows the places 1 to 5 (3 is reserved on its side); any other number is
// written as "anywhere".
HostArgumentPlace HostLocation(uint32_t location) {
  const bool known = location >= HOST_ARGUMENT_QUERY && location <= HOST_ARGUMENT_BODY;
  return known ? location : HostArgumentPlace{HOST_ARGUMENT_ANYWHERE};
}

// The function part of an endpoint whose function has no record: no arguments, no kinds, and
// empty texts rather than null ones.
HostFunctionRecord UndescribedFunction() {
  HostFunctionRecord record{};
  record.name = kHostEmptyText;
  record.nameSpace = kHostEmptyText;
  record.returnTypeName = kHostEmptyText;
  record.description = kHostEmptyText;
  record.help = kHostEmptyText;
  record.asyncTypeName = kHostEmptyText;
  return record;
}

HostFunctionRecord FunctionPart(const BindingApiDescription& description,
                                const EndpointRecord& endpoint) {
  const HostFunctionRecord* found =
      endpoint.function != nullptr ? description.FindFunction(endpoint.function->name) : nullptr;
  return found != nullptr ? *found : UndescribedFunction();
}

}  // namespace

const HostArgumentLocation* EndpointTable::Arrays::KeepLocations(
    const std::vector<uint32_t>& declared) {
  if (declared.empty()) {
    return nullptr;
  }
  std::vector<HostArgumentLocation> records;
  records.reserve(declared.size());
  for (const uint32_t location : declared) {
    HostArgumentLocation record{};
    record.location = HostLocation(location);
    records.push_back(record);
  }
  LinkHostRecords(records);
  locations.push_back(std::move(records));
  return locations.back().data();
}

const char* const* EndpointTable::Arrays::KeepTexts(const std::vector<std::string>& list) {
  if (list.empty()) {
    return nullptr;
  }
  texts.push_back(HostTextArray(list));
  return texts.back().data();
}

const HostTextList* EndpointTable::Arrays::KeepTextLists(
    const std::vector<std::vector<std::string>>& lists) {
  if (lists.empty()) {
    return nullptr;
  }
  std::vector<HostTextList> records;
  records.reserve(lists.size());
  for (const std::vector<std::string>& list : lists) {
    HostTextList record{};
    record.texts = KeepTexts(list);
    record.count = static_cast<uint32_t>(list.size());
    records.push_back(record);
  }
  LinkHostRecords(records);
  textLists.push_back(std::move(records));
  return textLists.back().data();
}

void EndpointTable::Arrays::AddEndpoint(const RequestDispatcher& dispatcher,
                                        const EndpointRecord& endpoint) {
  // The handler casts the user data's words back; neither is changed through them.
  userData.push_back(HostEndpointUserData{const_cast<RequestDispatcher*>(&dispatcher),
                                          const_cast<EndpointRecord*>(&endpoint)});
  HostEndpointRecord record{};
  record.function = FunctionPart(description, endpoint);
  record.function.next = nullptr;  // linked in Finish
  record.function.userData = &userData.back();
  record.handler = &HandleEndpointRequest;
  record.argumentLocations = KeepLocations(endpoint.argumentLocations);
  record.uriTemplate = HostText(endpoint.UriTemplate());
  const HttpMethod method = ToHttpMethod(static_cast<uint32_t>(endpoint.method));
  record.method = static_cast<HostMethod>(method);
  record.flags = endpoint.flags;
  record.textLists = KeepTextLists(endpoint.textLists);
  record.textListCount = static_cast<uint32_t>(endpoint.textLists.size());
  record.methodName = method == HttpMethod::Other ? HostText(endpoint.methodName) : kHostEmptyText;
  endpoints.push_back(record);
}

void EndpointTable::Arrays::Finish() {
  LinkHostRecords(endpoints, &HostEndpointRecord::function);
  const HostApiDescription& described = description.Description();
  table.endpoints = endpoints.empty() ? nullptr : endpoints.data();
  table.endpointCount = static_cast<uint32_t>(endpoints.size());
  table.types = described.types;
  table.typeCount = described.typeCount;
  table.events = described.events;
  table.eventCount = described.eventCount;
}

EndpointTable::EndpointTable() = default;
EndpointTable::~EndpointTable() = default;
EndpointTable::EndpointTable(EndpointTable&&) noexcept = default;
EndpointTable& EndpointTable::operator=(EndpointTable&&) noexcept = default;

const HostEndpointTable& EndpointTable::Build(const RequestDispatcher& dispatcher,
                                              const BindingRegistry& registry) {
  // Built aside and swapped in, so that running out of memory leaves the old table.
  auto built = std::make_unique<Arrays>();
  built->description.Build(registry);
  const std::vector<const EndpointRecord*> declared = dispatcher.EndpointsSnapshot();
  built->endpoints.reserve(declared.size());
  built->userData.reserve(declared.size());
  for (const EndpointRecord* endpoint : declared) {
    if (endpoint != nullptr) {
      built->AddEndpoint(dispatcher, *endpoint);
    }
  }
  built->Finish();
  arrays_ = std::move(built);
  return arrays_->table;
}

const HostEndpointTable& EndpointTable::Table() const noexcept {
  static constexpr HostEndpointTable kNothing{};
  return arrays_ != nullptr ? arrays_->table : kNothing;
}

const HostApiDescription& EndpointTable::Description() const noexcept {
  static constexpr HostApiDescription kNothing{};
  return arrays_ != nullptr ? arrays_->description.Description() : kNothing;
}

}  // namespace Vexa
