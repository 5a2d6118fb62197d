// Writing JSON: a visit of the value feeds RapidJSON's compact writer on a string buffer.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>

#include "codecs/json.h"
#include "util/text.h"
#include "value/enumerator_names.h"
#include "value/visit.h"

namespace Vexa {

namespace {

using JsonTextWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// The visit order (scalars; a container's start, its elements or each member's key and value,
// its end) is exactly the writer's call order, so each visitor operation is one writer call.
class JsonWritingVisitor final : public BindingVisitor {
 public:
  JsonWritingVisitor(JsonTextWriter& writer, const BindingEnumeratorNames* names) noexcept
      : writer_(writer), names_(names) {}

  void VisitEmpty() override { writer_.Null(); }
  void VisitBool(bool value) override { writer_.Bool(value); }
  void VisitSigned(int64_t value) override { writer_.Int64(value); }
  void VisitUnsigned(uint64_t value) override { writer_.Uint64(value); }
  void VisitFloat(double value) override {
    // The default writer refuses NaN and infinities after it has already placed the comma,
    // which would leave broken text; null keeps the document valid.
    if (std::isfinite(value)) {
      writer_.Double(value);
    } else {
      writer_.Null();
    }
  }
  void VisitString(std::string_view text) override { WriteString(text); }
  void VisitBlob(const BindingBlob& bytes) override {
    WriteString(Base64Encode(bytes.data(), bytes.size()));
  }
  void VisitEnum(const BindingEnumerator& enumerator) override {
    if (names_ != nullptr && enumerator.type != nullptr) {
      if (const char* name = names_->EnumeratorName(*enumerator.type, enumerator.value);
          name != nullptr) {
        WriteString(name);
        return;
      }
    }
    writer_.Int(enumerator.value);
  }
  void BeginCollection(std::size_t) override { writer_.StartArray(); }
  void EndCollection() override { writer_.EndArray(); }
  void BeginStructure(std::size_t) override { writer_.StartObject(); }
  void BeginMember(std::string_view key) override {
    writer_.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
  }
  void EndStructure() override { writer_.EndObject(); }

 private:
  void WriteString(std::string_view text) {
    writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  }

  JsonTextWriter& writer_;
  const BindingEnumeratorNames* names_;
};

}  // namespace

std::string ToJson(const BindingProperty& value, const BindingEnumeratorNames* names) {
  if (value.IsEmpty()) {
    return std::string();  // an empty root is the empty text, not null
  }
  rapidjson::StringBuffer buffer;
  JsonTextWriter writer(buffer);
  JsonWritingVisitor visitor(writer, names);
  value.VisitStatic(visitor);
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace Vexa
