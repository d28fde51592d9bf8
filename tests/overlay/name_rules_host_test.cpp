// The Windows name rules, natively: every query of the name stage, file
// names through the overlay and member names through the archive's
// comparison, answered as Windows answered it (the stage holds the same
// answers against Wine).
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/overlay/overlay_files.h"
#include "tests/names/name_text.h"

namespace {

const std::string kNames = std::string(QA_SOURCE_DIR) + "/tests/names/";

TEST(NameRulesTest, EveryQueryIsAnsweredAsWindowsAnswersIt) {
  platform::OverlayFiles files;
  files.Mount("Z:\\TREE", kNames + "tree");
  std::ifstream queries(kNames + "queries.txt", std::ios::binary), answers(kNames + "answers.txt", std::ios::binary);
  std::string query, answer;
  int compared = 0;
  while (std::getline(queries, query)) {
    if (query.empty() || query[0] == '#') continue;
    do {
      ASSERT_TRUE(std::getline(answers, answer)) << "no answer for " << query;
    } while (answer.empty() || answer[0] == '#');
    std::string a, b;
    if (names::MemberQuery(query, &a, &b)) {
      EXPECT_EQ(names::MemberAnswer(query, platform::SameNameIgnoringCase(a.c_str(), b.c_str())), answer);
    } else {
      std::string kind = "absent", name;
      names::OverlayAnswer(files, "Z:\\TREE\\" + names::Unescape(query), &kind, &name);
      EXPECT_EQ(names::Answer(query, kind, name), answer);
    }
    ++compared;
  }
  EXPECT_GT(compared, 50);
}

}  // namespace
