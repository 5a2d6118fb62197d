// The starter plugin that Kit.NotesExampleBuildsAndPassesItsTests built out of tree against the
// installed runtime (NOTES_PLUGIN), loaded by vexa-host and called over HTTP: a note posted is
// answered 201 and read back by its number.
#include <gtest/gtest.h>

#include "host_process.h"

TEST(KitNotes, PostedAndReadThroughVexaHost) {
  HostProcess host({"--plugin", NOTES_PLUGIN, "--entry", "load_kor_notes"});
  const std::string note = R"({"id":1,"priority":"HIGH","text":"milk"})";
  EXPECT_EQ(Call(host, "POST", "/kor-notes/v1/notes", R"({"text":"milk","priority":"HIGH"})"),
            "201 " + note);
  EXPECT_EQ(Call(host, "GET", "/kor-notes/v1/notes/1"), "200 " + note);
  EXPECT_EQ(host.Stop(), 0) << host.StandardError();
}
