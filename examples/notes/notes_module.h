// The notes plugin: a starter plugin that shows, in one small module, what a plugin of the
// platform usually does.
//
//   POST /kor-notes/v1/notes        {"text":"Buy milk","priority":"HIGH"}  -> 201 and the note
//   GET  /kor-notes/v1/notes/{id}   the note, or 404
//
// Each new note is published as the resource /kor-notes/v1/notes/{id} (a Create event under
// "OnJsonApiEvent_kor-notes_v1_notes", an event the module declares in its API table). The
// module observes the platform configuration namespace "Notes" ({"MaxNotes": n}; a POST beyond
// it answers 409), and keeps the next note's number in its settings document
// /kor-settings/v2/local/Notes ({"schemaVersion":1,"nextId":n}), read at start and patched
// after every note, so numbers go on across restarts. Notes themselves live in memory.
//
// It also listens to another plugin: GeoInfo announces where the signed-in user is as its
// resource /kor-geoinfo/v1/whereami, and each new note carries the country last announced
// ("country", left out while none is known).
//
// Threading: none of its own; the host calls the module as one sequence.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "binding/static_type.h"
#include "dispatch/endpoint_answer.h"
#include "runtime/app_module.h"
#include "runtime/records.h"

namespace Notes {

inline constexpr char kNotesUri[] = "/kor-notes/v1/notes";
inline constexpr char kNoteUri[] = "/kor-notes/v1/notes/{id}";
inline constexpr char kConfigNamespace[] = "Notes";  // /kor-platform-config/v1/namespaces/Notes
inline constexpr char kSettingsUri[] = "/kor-settings/v2/local/Notes";
inline constexpr char kWhereAmIUri[] = "/kor-geoinfo/v1/whereami";  // GeoInfo's resource

enum class Priority : int32_t { Low = 0, Normal = 1, High = 2 };
VEXA_STATIC_TYPE(Priority, "enum Notes::Priority");

// What a client posts.
struct NewNote {
  std::string text;
  Priority priority = Priority::Normal;
};
VEXA_STATIC_TYPE(NewNote, "struct Notes::NewNote");

// A stored note.
struct Note {
  uint64_t id = 0;
  std::string text;
  Priority priority = Priority::Normal;
  std::string country;  // where it was written, when GeoInfo had said
};
VEXA_STATIC_TYPE(Note, "struct Notes::Note");

// What the notes read of GeoInfo's whereami resource, {"geoInfo": {"country": "DE", ...}, ...}:
// a record declares only the members it needs, the others are ignored.
struct Place {
  std::string country;
};
VEXA_STATIC_TYPE(Place, "struct Notes::Place");
struct Whereabouts {
  Place geoInfo;
};
VEXA_STATIC_TYPE(Whereabouts, "struct Notes::Whereabouts");

// The configuration namespace "Notes"; the field is spelled as the platform spells it.
struct NotesConfig {
  int32_t MaxNotes = 100;  // NOLINT(readability-identifier-naming): the platform's spelling
};
VEXA_STATIC_TYPE(NotesConfig, "struct Notes::NotesConfig");

class NotesModule final : public Vexa::AppModule {
 public:
  // POST /kor-notes/v1/notes: stores the note and answers it with 201; 400 without text, 409
  // when MaxNotes notes are stored.
  Vexa::EndpointAnswer<Note> AddNote(const NewNote& note);
  // GET /kor-notes/v1/notes/{id}: the note, or 404.
  Vexa::EndpointAnswer<Note> GetNote(uint64_t id);

 protected:
  // Registers the records, the enum and the event, and declares both endpoints.
  void OnDeclare() override;
  // Reads the settings document, observes the configuration and GeoInfo's location; true.
  bool OnStart() override;

 private:
  void OnConfigChanged(const Vexa::PluginResourceEventOf<NotesConfig>& event);
  void OnLocated(const Vexa::PluginResourceEventOf<Whereabouts>& event);
  void SaveNextId();

  std::map<uint64_t, Note> notes_;
  uint64_t nextId_ = 1;
  int32_t maxNotes_ = NotesConfig{}.MaxNotes;
  std::string country_;  // the last country GeoInfo announced; empty when none
};

}  // namespace Notes
