// BindingValueBuilder: where each event lands, repeated keys, texts through its cache, and the
// limits and misuse it answers with a status.
#include "value/builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>

#include "support/describe.h"

namespace {

using namespace Vexa;
using namespace Vexa::Testing;
using Status = BindingBuildStatus;
using Event = std::function<Status(BindingValueBuilder&)>;

Event Open(bool collection, BindingReuse reuse = BindingReuse::Keep) {
  return [=](BindingValueBuilder& b) {
    return collection ? b.BeginCollection(reuse) : b.BeginStructure(reuse);
  };
}
const Event kList = Open(true), kStruct = Open(false);
const Event kEndList = [](BindingValueBuilder& b) { return b.EndCollection(); };
const Event kEndStruct = [](BindingValueBuilder& b) { return b.EndStructure(); };
const Event kNull = [](BindingValueBuilder& b) { return b.Null(); };
const Event kEmpty = [](BindingValueBuilder& b) { return b.Empty(); };
Event Key(std::string key) {
  return [key](BindingValueBuilder& b) { return b.MemberKey(key); };
}
Event Text(std::string text) {
  return [text](BindingValueBuilder& b) { return b.String(text); };
}
Event Int(int64_t value) {
  return [value](BindingValueBuilder& b) { return b.Signed(value); };
}

class ValueBuilder : public ::testing::Test {
 protected:
  // Feeds events that must all be accepted, naming the first one that is not.
  ::testing::AssertionResult Feed(std::initializer_list<Event> events) {
    std::size_t index = 0;
    for (const Event& event : events) {
      if (const Status status = event(builder); status != Status::Ok) {
        return ::testing::AssertionFailure()
               << "event " << index << ": " << BindingBuildStatusName(status);
      }
      ++index;
    }
    return ::testing::AssertionSuccess();
  }

  BindingProperty root;
  BindingValueBuilder builder{root};
};

TEST_F(ValueBuilder, RepeatedKeysSelectTheirMemberAgain) {
  ASSERT_TRUE(Feed({kStruct, Key("a"), Int(1), Key("a"), Int(2), Key("kept"), Text("v"),
                    Key("cleared"), Text("v"), Key("kept"), kNull, Key("cleared"), kEmpty}));
  for (int round = 0; round < 2; ++round) {  // Keep merges, Replace empties first
    ASSERT_TRUE(Feed({Key("list"), kList, Int(round), kEndList, Key("replaced"),
                      Open(true, BindingReuse::Replace), Int(round), kEndList, Key("record"),
                      kStruct, Key(round == 0 ? "x" : "y"), Int(round), kEndStruct}));
  }
  ASSERT_TRUE(Feed({Key("text"), kList, Text("gone"), kEndList, Key("text"), kStruct, kEndStruct,
                    Key("dangling"), kEndStruct}));
  EXPECT_EQ(DumpOf(root),
            "{a:S2,cleared:~,dangling:~,kept:'v',list:[S0,S1],record:{x:S0,y:S1},replaced:[S1],"
            "text:{}}");
  EXPECT_EQ(References(root, "a") + References(root, "v") + References(root, "gone"), 2u);
  ASSERT_TRUE(Feed({Int(7)}));  // the key got no value; a later root value replaces the tree
  EXPECT_EQ(DumpOf(root) + std::to_string(Interned(root)), "S70");
}

TEST_F(ValueBuilder, TextsAreCutAtNulAndInternedOnceThroughTheCache) {
  // Texts that agree in their length and first and last eight bytes must stay distinct.
  const std::string texts[] = {
      "aaaaaaaa0123456789bbbbbbbb", "aaaaaaaa0123456788bbbbbbbb", "abcde", "abXde", "a1b", "a2b"};
  ASSERT_TRUE(
      Feed({kList, kStruct, Key(std::string("ab\0cd", 5)), Text(std::string("xy\0z", 4)), Key("ab"),
            kNull, Key(""), Text(""), Key("c"), Text(std::string("xy\0z", 4)), kEndStruct}));
  for (int round = 0; round < 2; ++round) {
    for (const std::string& text : texts) {
      ASSERT_TRUE(Feed({kStruct, Key(text), Text(text), kEndStruct}));
    }
  }
  // A text released by an overwrite, and a key released with its structure, come back afresh.
  const std::string once = "held once, then overwritten";
  ASSERT_TRUE(Feed({kStruct, Key("a"), Text(once), Key("a"), Int(1), Key("outer"), kStruct,
                    Key("inner"), kNull, kEndStruct, Key("outer"), Int(2), Key("b"), Text(once),
                    Key("inner"), Int(3), kEndStruct, kEndList}));
  EXPECT_EQ(DumpOf(root.ElementAt(0)) + DumpOf(root.ElementAt(13)),
            "{:'',ab:'xy',c:'xy'}{a:S1,b:'" + once + "',inner:S3,outer:S2}");
  for (const std::string& text : texts) {
    EXPECT_EQ(References(root, text), 4u) << text;  // two keys and two values
  }
  EXPECT_EQ(References(root, once) + References(root, "inner"), 2u);
}

TEST_F(ValueBuilder, TextsStayInternedOnceWhenADocumentOutgrowsTheCache) {
  // More distinct texts than the cache keeps inline, alike in length and both ends.
  const auto text = [](int i) { return "aaaaaaaa" + std::to_string(100000 + i) + "bbbbbbbb"; };
  ASSERT_TRUE(Feed({kList}));
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 600; ++i) {
      ASSERT_TRUE(Feed({Text(text(i))}));
    }
  }
  // Forgetting the cache on an overwrite forgets what the grown cache holds as well.
  const std::string once = "held once, then overwritten";
  ASSERT_TRUE(Feed({kStruct, Key("a"), Text(once), Key("a"), Int(1), Key("b"), Text(once),
                    kEndStruct, kEndList}));
  for (int i = 0; i < 600; i += 37) {
    EXPECT_EQ(References(root, text(i)), 3u) << i;
  }
  EXPECT_EQ(References(root, once), 1u);
  EXPECT_EQ(Interned(root), 603u);
}

TEST(ValueBuilderLimits, NestingDeeperThanTheLimitIsRefusedAndChangesNothing) {
  EXPECT_EQ(kMaxBindingDepth, 512u);
  for (const bool collection : {true, false}) {
    BindingProperty root;
    BindingValueBuilder builder(root);
    for (std::size_t level = 0; level < kMaxBindingDepth; ++level) {
      ASSERT_EQ(collection ? builder.BeginCollection() : builder.BeginStructure(), Status::Ok);
      ASSERT_EQ(collection ? Status::Ok : builder.MemberKey("a"), Status::Ok);
    }
    EXPECT_EQ(builder.BeginCollection(), Status::TooDeep);
    EXPECT_EQ(builder.Depth(), kMaxBindingDepth);
  }
}

TEST_F(ValueBuilder, EventsOutOfPlaceAreUnbalancedAndReservationsBounded) {
  ASSERT_TRUE(Feed({kList}));
  EXPECT_EQ(builder.ReserveElements(kMaxBindingElements + 1), Status::TooManyElements);
  ASSERT_TRUE(Feed({kStruct, Key("a"), kStruct, Key("dangling"), kEndStruct}));
  // A value in a structure needs a key; the key of a closed structure takes none.
  EXPECT_EQ(builder.Signed(1), Status::Unbalanced);
  EXPECT_EQ(DumpOf(root), "[{a:{dangling:~}}]");
}

}  // namespace
