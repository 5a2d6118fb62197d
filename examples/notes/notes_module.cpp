#include "notes_module.h"

#include <string>
#include <utility>

#include "binding/conversion/conversion.h"
#include "binding/field_registration.h"
#include "dispatch/endpoint_declaration.h"
#include "runtime/events.h"
#include "value/property.h"

namespace Notes {
namespace {

constexpr uint32_t kCreatedStatus = 201;
constexpr uint32_t kBadRequestStatus = 400;
constexpr uint32_t kFullStatus = 409;

// The settings document: {"schemaVersion": 1, "nextId": n}.
Vexa::BindingProperty SettingsDocument(uint64_t nextId) {
  Vexa::BindingProperty document;
  document.MakeStructure();
  document.Member("schemaVersion") = int64_t{1};
  document.Member("nextId") = nextId;
  return document;
}

}  // namespace

void NotesModule::OnDeclare() {
  // Declared under the API name ("MdlBeKorNotesNote"), so that they do not clash with another
  // plugin's in a host's API description, with the module's tags. Nested types first.
  DeclareEnum<Priority>("Priority")
      .Value("LOW", Priority::Low)
      .Value("NORMAL", Priority::Normal)
      .Value("HIGH", Priority::High);
  DeclareRecord<NewNote>("NewNote")
      .Field("text", &NewNote::text)
      .Field("priority", &NewNote::priority);
  DeclareRecord<Note>("Note")
      .Field("id", &Note::id)
      .Field("text", &Note::text)
      .Field("priority", &Note::priority)
      .Field("country", &Note::country, "Where it was written, when known",
             Vexa::kBindingFieldOmitWhenEmpty);
  DeclareRecord<Place>("Place").Field("country", &Place::country);
  DeclareRecord<Whereabouts>("Whereabouts").Field("geoInfo", &Whereabouts::geoInfo);
  DeclareRecord<NotesConfig>("NotesConfig").Field("MaxNotes", &NotesConfig::MaxNotes);
  // The event a host lists in its API description: the resource event of the notes.
  DeclareEvent<Note>(Vexa::EventNameForUri(kNotesUri), "A note was created");

  Vexa::BindingRegistry& registry = Registry();
  DeclareEndpoint(Dispatcher(), registry, Vexa::HttpMethod::Post, kNotesUri, &NotesModule::AddNote,
                  this)
      .Tags(ApiTags())
      .Body("note", "The note to add; the whole JSON body");
  DeclareEndpoint(Dispatcher(), registry, Vexa::HttpMethod::Get, kNoteUri, &NotesModule::GetNote,
                  this)
      .Tags(ApiTags())
      .Path("id", "The note's number");
}

bool NotesModule::OnStart() {
  // No document yet (404) is a first start: numbers begin at 1.
  const Vexa::Maybe<Vexa::BindingProperty> settings =
      Request<Vexa::BindingProperty>(Vexa::HttpMethod::Get, kSettingsUri);
  if (settings) {
    nextId_ = settings.Value().Member("nextId").GetUnsigned(1);
  }
  ObserveConfiguration<NotesConfig>(  // /kor-platform-config/v1/namespaces/Notes
      kConfigNamespace,
      [this](const Vexa::PluginResourceEventOf<NotesConfig>& event) { OnConfigChanged(event); });
  // Another plugin's resource is observed like the platform's: its events reach every plugin
  // subscribed to them.
  ObserveResource<Whereabouts>(
      kWhereAmIUri,
      [this](const Vexa::PluginResourceEventOf<Whereabouts>& event) { OnLocated(event); });
  return true;
}

Vexa::EndpointAnswer<Note> NotesModule::AddNote(const NewNote& note) {
  if (note.text.empty()) {
    return Vexa::EndpointAnswer<Note>::Error(kBadRequestStatus, "A note needs a text");
  }
  if (notes_.size() >= static_cast<std::size_t>(maxNotes_)) {
    return Vexa::EndpointAnswer<Note>::Error(
        kFullStatus, "No room for another note (MaxNotes is " + std::to_string(maxNotes_) + ")");
  }
  const Note& stored = notes_[nextId_] = Note{nextId_, note.text, note.priority, country_};
  ++nextId_;
  SaveNextId();

  // Published as a resource of its own: /kor-notes/v1/notes/7 is announced under the event of
  // its first three pieces, OnJsonApiEvent_kor-notes_v1_notes.
  Vexa::BindingResult value = Vexa::ToValue(stored, Registry());
  if (value) {
    static_cast<void>(SendEvent(
        Vexa::kJsonApiEventName,
        Vexa::PluginResourceEvent{std::string(kNotesUri) + "/" + std::to_string(stored.id),
                                  Vexa::PluginResourceEventType::Create, std::move(value.value)}));
  }
  return Vexa::EndpointAnswer<Note>::WithStatus(kCreatedStatus, stored);
}

Vexa::EndpointAnswer<Note> NotesModule::GetNote(uint64_t id) {
  const auto found = notes_.find(id);
  if (found == notes_.end()) {
    return Vexa::EndpointAnswer<Note>::NotFound("No note " + std::to_string(id));
  }
  return found->second;
}

void NotesModule::OnConfigChanged(const Vexa::PluginResourceEventOf<NotesConfig>& event) {
  maxNotes_ = event.eventType == Vexa::PluginResourceEventType::Delete ? NotesConfig{}.MaxNotes
                                                                       : event.data.MaxNotes;
}

void NotesModule::OnLocated(const Vexa::PluginResourceEventOf<Whereabouts>& event) {
  // A Delete (signed out) forgets the place.
  country_ = event.eventType == Vexa::PluginResourceEventType::Delete ? std::string()
                                                                      : event.data.geoInfo.country;
}

void NotesModule::SaveNextId() {
  const Vexa::Maybe<void> saved =
      Request<void>(Vexa::HttpMethod::Patch, kSettingsUri, SettingsDocument(nextId_));
  if (!saved) {
    Vexa::Trace("Notes: the settings were not saved: %s", saved.Error().Message());
  }
}

}  // namespace Notes
