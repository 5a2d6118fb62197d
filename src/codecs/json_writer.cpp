// Writing JSON: a visit of the value feeds RapidJSON's compact writer on a string buffer, both
// kept by the thread from one text to the next, and the text is copied out of the buffer.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstddef>

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

// The writer over a string buffer, rather than over a stream of our own: RapidJSON writes
// numbers and scans strings straight in a StringBuffer, which makes writing twice as fast as
// through any other stream. The thread keeps both, so that a text costs no allocation of
// theirs once the buffer has grown to the size of the thread's texts.
struct JsonScratch {
  rapidjson::StringBuffer buffer;
  JsonTextWriter writer{buffer};
  bool busy = false;
};
thread_local JsonScratch jsonScratch;

// A buffer that a large text made larger than this is freed after the write: the thread keeps
// only what small texts need.
constexpr std::size_t kKeptBufferBytes = 16 * 1024;

// Writes `value` into a buffer and hands it to `take`. The thread's buffer serves unless a write
// is already using it (no visit writes JSON, but a fresh buffer keeps that safe).
template <typename Take>
void WriteJson(const BindingProperty& value, const BindingEnumeratorNames* names, Take&& take) {
  JsonScratch& scratch = jsonScratch;
  if (scratch.busy) {
    rapidjson::StringBuffer buffer;
    JsonTextWriter writer(buffer);
    JsonWritingVisitor visitor(writer, names);
    value.VisitStatic(visitor);
    take(buffer);
    return;
  }
  struct Release {
    JsonScratch& scratch;
    ~Release() {
      if (scratch.buffer.GetSize() > kKeptBufferBytes) {
        scratch.buffer.Clear();
        scratch.buffer.ShrinkToFit();
      }
      scratch.busy = false;
    }
  };
  scratch.busy = true;
  const Release release{scratch};
  // Emptied here rather than after the write, so that a write that threw leaves nothing behind.
  scratch.buffer.Clear();
  scratch.writer.Reset(scratch.buffer);
  JsonWritingVisitor visitor(scratch.writer, names);
  value.VisitStatic(visitor);
  take(scratch.buffer);
}

}  // namespace

void AppendJson(std::string& out, const BindingProperty& value,
                const BindingEnumeratorNames* names) {
  if (value.IsEmpty()) {
    return;  // an empty root is the empty text, not null
  }
  WriteJson(value, names, [&out](const rapidjson::StringBuffer& buffer) {
    out.append(buffer.GetString(), buffer.GetSize());
  });
}

std::string ToJson(const BindingProperty& value, const BindingEnumeratorNames* names) {
  std::string text;
  if (value.IsEmpty()) {
    return text;  // an empty root is the empty text, not null
  }
  WriteJson(value, names, [&text](const rapidjson::StringBuffer& buffer) {
    text.assign(buffer.GetString(), buffer.GetSize());
  });
  return text;
}

}  // namespace Vexa
