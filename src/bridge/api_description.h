// The API description handed to the host: flat, linked C records of every registered function
// (with its arguments), type (with its fields or enumerators) and event, built from snapshots
// of a registry.
//
//   Vexa::BindingApiDescription api;
//   const HostApiDescription& description = api.Build(registry);   // after all registration
//   for (const HostTypeRecord* type = description.types; type != nullptr; type = type->next) {
//     ... type->name, type->fields or type->enumerators, type->count ...
//   }
//   const HostFunctionRecord* where = api.FindFunction("WhereAmI");  // or null
//
// What the records show. Kinds are BindingTypeKind numbers. A field, argument or return value
// is described by its exposed type when one is set, else by its native type; its type name is
// the descriptor's name when the kind is vector, enum, struct or map and a descriptor is set,
// else empty. An asynchronous function names its (native) return type's descriptor as its
// async type. A type with fields lists them in registration order; an enum (or a record
// without fields) lists its enumerators in name order instead. Missing texts and empty texts
// are kHostEmptyText, never null; an empty array is a null pointer with a count of 0. Every
// array is also a list: each record's first word points at the next record of the same array
// and the last one's is null.
//
// Order. Functions, types and events appear in the order in which their snapshot map iterates:
// an unordered map's order, which follows the names' hashes and the registration history, not
// the names themselves.
//
// Ownership: the holder owns every array it builds (records, argument, field and enumerator
// arrays, tag pointer arrays); they stay valid, at the same addresses, while the holder lives
// (also across a move) and until the next Build. Texts are borrowed from the descriptors, which
// must outlive the holder and must not be changed while the description is in use.
//
// Failure: Build can only run out of memory (std::bad_alloc); the holder then keeps what it
// held before. Nothing here is called by the host; the records are only read by it.
//
// Threading: building is not locked; build before the host reads, then only read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/registry.h"
#include "vexa/host_contract.h"

namespace Vexa {

// The one empty text every record uses for a missing or empty text, shared so that a reader
// can also recognise it by address.
inline constexpr char kHostEmptyText[] = "";

// `text` as a record shows it: its own characters (borrowed), or kHostEmptyText when empty.
[[nodiscard]] inline const char* HostText(const std::string& text) noexcept {
  return text.empty() ? kHostEmptyText : text.c_str();
}

// The texts of `texts` as an array of pointers for a record's text list (HostText of each,
// borrowed from `texts`), for a holder to keep; empty for no texts.
[[nodiscard]] std::vector<const char*> HostTextArray(const std::vector<std::string>& texts);

// Makes an array of host records a list as well: the link (`next`) of each record points at the
// record after it, the last one's is null. `part` selects the part of a record that carries the
// link and that the link points at: the record itself, or for instance the function record
// that opens every host endpoint record. Link only once the array holds all its records, at
// their final addresses.
template <typename Record, typename Part = std::identity>
void LinkHostRecords(std::vector<Record>& records, Part part = {}) {
  for (std::size_t index = 0; index + 1 < records.size(); ++index) {
    std::invoke(part, records[index]).next = &std::invoke(part, records[index + 1]);
  }
  if (!records.empty()) {
    std::invoke(part, records.back()).next = nullptr;
  }
}

class BindingApiDescription {
 public:
  BindingApiDescription();
  ~BindingApiDescription();
  BindingApiDescription(BindingApiDescription&&) noexcept;
  BindingApiDescription& operator=(BindingApiDescription&&) noexcept;
  BindingApiDescription(const BindingApiDescription&) = delete;
  BindingApiDescription& operator=(const BindingApiDescription&) = delete;

  // Builds the description of the snapshots' descriptors (null entries are skipped) and
  // replaces what an earlier Build made: pointers into the earlier arrays become invalid.
  // Returns Description().
  const HostApiDescription& Build(const BindingFunctionMap& functions, const BindingTypeMap& types,
                                  const BindingEventMap& events);
  // The same from the registry's three snapshots.
  const HostApiDescription& Build(const BindingRegistry& registry);

  // The last build's description; all null and zero before the first (and after a move).
  [[nodiscard]] const HostApiDescription& Description() const noexcept;
  // The function record whose whole name equals `name`, or null.
  [[nodiscard]] const HostFunctionRecord* FindFunction(std::string_view name) const noexcept;

 private:
  struct Arrays;
  // On the heap, so that the records keep their addresses when the holder moves.
  std::unique_ptr<Arrays> arrays_;
};

}  // namespace Vexa
