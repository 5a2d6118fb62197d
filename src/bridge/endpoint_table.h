// The module's API table for the host: one endpoint record per declared endpoint, each the
// function record of the endpoint's function followed by how the host reaches it, plus the
// registry's type and event records.
//
//   Vexa::EndpointTable table;
//   const HostEndpointTable& api = table.Build(dispatcher, registry);   // after all declarations
//   record.endpoints = &api;                                           // word 7 of the load record
//   ... the host calls api.endpoints[i].handler(&response, &request) with
//       request.userData == api.endpoints[i].function.userData ...
//
// What an endpoint record holds. Its function part is a copy of the function record (see
// bridge/api_description.h) whose whole name equals the name of the endpoint's function; when
// no registered function has that name, the function part is zero, except that its texts are
// kHostEmptyText, so the host never meets a null text. In either case its user data is the
// endpoint's (the dispatcher and the endpoint record, which the handler finds the endpoint by),
// kept by the table.
// Then: the shared handler HandleEndpointRequest (bridge/endpoint_handler.h), the argument
// locations (1 to 5 kept, anything else written as 0), the URI template, the method (1 to 8, else
// 0), the flag byte, the text lists, and the method name (for method 8 only; kHostEmptyText
// otherwise). Endpoints are listed in the dispatcher's order; every array is also a list whose last
// link is null (an endpoint's link is function.next, and it points at the next HostEndpointRecord).
//
// Ownership: the table owns every array it builds, and its description of the registry; all
// stay valid, at the same addresses, while the table lives (also across a move) and until the
// next Build. Texts and user data are borrowed from the dispatcher's endpoint records and the
// registry's descriptors: both must outlive the table, the endpoints' functions must still be
// registered when Build runs, and neither may change while the host uses the table.
//
// Failure: Build can only run out of memory (std::bad_alloc); the table then keeps what it held
// before. The host only reads the records; nothing here is called by the host.
//
// Threading: Build takes the dispatcher's and the registry's locks only to copy their lists.
#pragma once

#include <memory>

#include "binding/registry.h"
#include "bridge/api_description.h"
#include "dispatch/endpoint.h"
#include "vexa/host_contract.h"

namespace Vexa {

class EndpointTable {
 public:
  EndpointTable();
  ~EndpointTable();
  EndpointTable(EndpointTable&&) noexcept;
  EndpointTable& operator=(EndpointTable&&) noexcept;
  EndpointTable(const EndpointTable&) = delete;
  EndpointTable& operator=(const EndpointTable&) = delete;

  // Describes the registry, then every endpoint of `dispatcher`, replacing what an earlier
  // Build made. Returns Table().
  const HostEndpointTable& Build(const RequestDispatcher& dispatcher,
                                 const BindingRegistry& registry);

  // The last build's table; all null and zero before the first (and after a move).
  [[nodiscard]] const HostEndpointTable& Table() const noexcept;
  // The plain description the endpoints' function parts were copied from: every registered
  // function, whether declared as an endpoint or not, and the same type and event records as
  // the table.
  [[nodiscard]] const HostApiDescription& Description() const noexcept;

 private:
  struct Arrays;
  // On the heap, so that the records keep their addresses when the table moves.
  std::unique_ptr<Arrays> arrays_;
};

}  // namespace Vexa
