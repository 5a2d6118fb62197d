// The seam's numbers are the C++ enums' numbers: the records carry the enums' values as they
// are, so each pair is held equal here, where both are in view.
#include "binding/type_kind.h"
#include "dispatch/endpoint.h"
#include "dispatch/http_call.h"
#include "vexa/host_contract.h"

namespace Vexa {
namespace {

template <typename Enum>
constexpr bool Same(Enum value, uint32_t wire) {
  return static_cast<uint32_t>(value) == wire;
}

static_assert(Same(BindingTypeKind::None, HOST_TYPE_NONE));
static_assert(Same(BindingTypeKind::Bool, HOST_TYPE_BOOL));
static_assert(Same(BindingTypeKind::Int8, HOST_TYPE_INT8));
static_assert(Same(BindingTypeKind::UInt8, HOST_TYPE_UINT8));
static_assert(Same(BindingTypeKind::Int16, HOST_TYPE_INT16));
static_assert(Same(BindingTypeKind::UInt16, HOST_TYPE_UINT16));
static_assert(Same(BindingTypeKind::Int32, HOST_TYPE_INT32));
static_assert(Same(BindingTypeKind::UInt32, HOST_TYPE_UINT32));
static_assert(Same(BindingTypeKind::Int64, HOST_TYPE_INT64));
static_assert(Same(BindingTypeKind::UInt64, HOST_TYPE_UINT64));
static_assert(Same(BindingTypeKind::Float, HOST_TYPE_FLOAT));
static_assert(Same(BindingTypeKind::Double, HOST_TYPE_DOUBLE));
static_assert(Same(BindingTypeKind::String, HOST_TYPE_STRING));
static_assert(Same(BindingTypeKind::Object, HOST_TYPE_OBJECT));
static_assert(Same(BindingTypeKind::Blob, HOST_TYPE_BLOB));
static_assert(Same(BindingTypeKind::Vector, HOST_TYPE_VECTOR));
static_assert(Same(BindingTypeKind::Enum, HOST_TYPE_ENUM));
static_assert(Same(BindingTypeKind::Struct, HOST_TYPE_STRUCT));
static_assert(Same(BindingTypeKind::Callback, HOST_TYPE_CALLBACK));
static_assert(Same(BindingTypeKind::Map, HOST_TYPE_MAP));

static_assert(Same(ArgumentLocation::Any, HOST_ARGUMENT_ANYWHERE));
static_assert(Same(ArgumentLocation::Query, HOST_ARGUMENT_QUERY));
static_assert(Same(ArgumentLocation::Path, HOST_ARGUMENT_PATH));
static_assert(Same(ArgumentLocation::Header, HOST_ARGUMENT_HEADER));
static_assert(Same(ArgumentLocation::Body, HOST_ARGUMENT_BODY));

static_assert(Same(HttpMethod::None, HOST_METHOD_NONE));
static_assert(Same(HttpMethod::Delete, HOST_METHOD_DELETE));
static_assert(Same(HttpMethod::Get, HOST_METHOD_GET));
static_assert(Same(HttpMethod::Head, HOST_METHOD_HEAD));
static_assert(Same(HttpMethod::Options, HOST_METHOD_OPTIONS));
static_assert(Same(HttpMethod::Patch, HOST_METHOD_PATCH));
static_assert(Same(HttpMethod::Post, HOST_METHOD_POST));
static_assert(Same(HttpMethod::Put, HOST_METHOD_PUT));
static_assert(Same(HttpMethod::Other, HOST_METHOD_OTHER));

}  // namespace
}  // namespace Vexa
