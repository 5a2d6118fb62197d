// BindingProperty::VisitStatic: the depth-first walk of BindingProperty::Visit, with the
// visitor's operations called on its static type. For a `final` visitor every call is direct
// and can be inlined, and the operations it leaves empty cost nothing; the writers use it on
// their hot path. Visit itself is this walk over a BindingVisitor&.
#pragma once

#include "value/property.h"
#include "value/records.h"

namespace Vexa {

template <typename Visitor>
void BindingProperty::VisitStatic(Visitor& visitor) const {
  switch (kind_) {
    case BindingPropertyKind::Empty:
      visitor.VisitEmpty();
      break;
    case BindingPropertyKind::Bool:
      visitor.VisitBool(payload_.boolean);
      break;
    case BindingPropertyKind::Signed:
      visitor.VisitSigned(payload_.signedValue);
      break;
    case BindingPropertyKind::Unsigned:
      visitor.VisitUnsigned(payload_.unsignedValue);
      break;
    case BindingPropertyKind::Float:
      visitor.VisitFloat(payload_.floatValue);
      break;
    case BindingPropertyKind::String:
      visitor.VisitString(payload_.string->View());
      break;
    case BindingPropertyKind::Blob:
      visitor.VisitBlob(payload_.blob->bytes);
      break;
    case BindingPropertyKind::Enum:
      visitor.VisitEnum(*payload_.enumerator);
      break;
    case BindingPropertyKind::Collection: {
      const BindingCollection& collection = *payload_.collection;
      visitor.BeginCollection(collection.size);
      for (uint32_t index = 0; index < collection.size; ++index) {
        visitor.BeginElement(index);
        collection.elements[index].VisitStatic(visitor);
        visitor.EndElement(index);
      }
      visitor.EndCollection();
      break;
    }
    case BindingPropertyKind::Structure: {
      BindingStructure& structure = *payload_.structure;
      structure.EnsureSorted();
      visitor.BeginStructure(structure.count);
      for (const BindingMemberNode* node = structure.first; node != nullptr; node = node->next) {
        visitor.BeginMember(node->key->View());
        node->value.VisitStatic(visitor);
        visitor.EndMember();
      }
      visitor.EndStructure();
      break;
    }
  }
}

}  // namespace Vexa
