// The pieces the checks' advice rests on: which name a misspelling is near,
// and which ';' its author meant as a comment.
#include "tools/qa2/check_support.h"

#include <gtest/gtest.h>

namespace {

TEST(ClosestNameTest, SuggestsOnlyNamesNearEnoughToBeASlip) {
  const std::vector<std::string> keys = {"GameClass", "GameTitle", "GameTitleA", "GameDir", "DataFolder"};
  EXPECT_EQ(qa2::ClosestName("GameClas", keys), "GameClass");     // a letter missing
  EXPECT_EQ(qa2::ClosestName("gameclass_", keys), "GameClass");   // case ignored, one extra
  EXPECT_EQ(qa2::ClosestName("GameTilte", keys), "GameTitle");    // two letters swapped: one slip
  EXPECT_EQ(qa2::ClosestName("GameTitleAA", keys), "GameTitleA");  // the nearest wins
  EXPECT_EQ(qa2::ClosestName("GameExe", keys), "");               // another key, not a slip
  EXPECT_EQ(qa2::ClosestName("Data", keys), "");
  EXPECT_EQ(qa2::ClosestName("GaemDri", keys), "");                 // two slips in seven letters
  // Short names tolerate one slip at most, and very short ones none.
  EXPECT_EQ(qa2::ClosestName("UPDATES", {"SETUP", "UPDATE"}), "UPDATE");
  EXPECT_EQ(qa2::ClosestName("SETP", {"SETUP", "UPDATE"}), "SETUP");
  EXPECT_EQ(qa2::ClosestName("STUP_", {"SETUP", "UPDATE"}), "");
  EXPECT_EQ(qa2::ClosestName("AB", {"A"}), "");
}

TEST(TrailingCommentTest, OnlyASemicolonAfterABlankLooksMeantAsAComment) {
  EXPECT_EQ(qa2::TrailingCommentAt("u,README.TXT ; only if newer"), 13u);
  EXPECT_EQ(qa2::TrailingCommentAt("A.DAT\t;x"), 6u);
  EXPECT_EQ(qa2::TrailingCommentAt("A;B.DAT"), std::string::npos);
  EXPECT_EQ(qa2::TrailingCommentAt(";x"), std::string::npos);  // a value cannot start one
  EXPECT_EQ(qa2::TrailingCommentAt("A.DAT"), std::string::npos);
}

}  // namespace
