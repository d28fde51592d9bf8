// qa2's update-folder check on the small folders in tests/qa2/check/: each
// folder holds one kind of fault, and <case>.expected the reports it must
// give, in order. QA_UPDATE_EXPECTED=1 rewrites the expected files.
#include "tools/qa2/check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/support/temp_folder.h"
#include "tests/support/text_output.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = QA_SOURCE_DIR;
const fs::path kCases = kSource / "tests/qa2/check";

struct Outcome {
  qa2::CheckSummary summary;
  std::string output;
};

Outcome Check(const fs::path& dir) {
  Outcome o;
  o.output = test_support::CapturedOutput(
      [&](std::FILE* out) { o.summary = qa2::CheckUpdateFolder(dir.u8string(), out); });
  return o;
}

using test_support::Count;
using test_support::ReadText;

TEST(CheckTest, EachCaseGivesItsReports) {
  bool update = std::getenv("QA_UPDATE_EXPECTED") != nullptr;
  int cases = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(kCases)) {
    if (!e.is_directory()) continue;
    ++cases;
    const std::string name = e.path().filename().u8string();
    const fs::path expectedPath = kCases / (name + ".expected");
    Outcome o = Check(e.path());
    if (update) std::ofstream(expectedPath, std::ios::binary) << o.output;
    EXPECT_EQ(o.output, ReadText(expectedPath)) << name;
    EXPECT_EQ(o.summary.errors, Count(o.output, ": error: ")) << name;
    EXPECT_EQ(o.summary.warnings, Count(o.output, ": warning: ")) << name;
    EXPECT_FALSE(o.summary.unreadable) << name;
  }
  EXPECT_GE(cases, 19);
}

// GitHub's anchor of a Markdown heading: lower case, punctuation dropped,
// blanks as hyphens.
std::string Anchor(const std::string& heading) {
  std::string a;
  for (char c : heading) {
    if (c >= 'A' && c <= 'Z') a += char(c - 'A' + 'a');
    else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-') a += c;
    else if (c == ' ') a += '-';
  }
  return a;
}

TEST(CheckTest, ReportsPointToSectionsOfTheAuthorsPage) {
  std::set<std::string> anchors;
  std::istringstream page(ReadText(kSource / "docs/authoring.md"));
  for (std::string line; std::getline(page, line);)
    if (line.rfind("#", 0) == 0) anchors.insert(Anchor(line.substr(line.find(' ') + 1)));
  int pointers = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(kCases)) {
    if (e.path().extension() != ".expected") continue;
    std::string text = ReadText(e.path());
    const std::string link = "docs/authoring.md#";
    for (size_t at = 0; (at = text.find(link, at)) != std::string::npos; ++pointers) {
      at += link.size();
      std::string anchor = text.substr(at, text.find(')', at) - at);
      EXPECT_EQ(anchors.count(anchor), 1u) << anchor << " in " << e.path().filename();
    }
  }
  EXPECT_GT(pointers, 30);
}

TEST(CheckTest, SampleUpdatePassesClean) {
  Outcome o = Check(kSource / "samples/update");
  EXPECT_EQ(o.output, "");
  EXPECT_EQ(o.summary.errors, 0);
  EXPECT_EQ(o.summary.warnings, 0);
  EXPECT_EQ(qa2::CleanCheckLine(o.summary), "UPDATE.INI: ok, 7 update entries, 2 copy entries");
  // GAME.EXE, README.TXT, CONFIG.DAT, PATCH.DAT, NOTINST.DAT, SETUP.INI and,
  // in install mode 1, DATA1.PAK.
  uint64_t expected = 0;
  for (const char* f : {"GAME.EXE", "README.TXT", "CONFIG.DAT", "PATCH.DAT", "NOTINST.DAT",
                        "SETUP.INI", "DATA1.PAK"})
    expected += fs::file_size(kSource / "samples/update" / f);
  EXPECT_EQ(o.summary.bytesWritten, expected);
}

// Two names equal but for case cannot both be members; made here, since a
// checkout on a case-blind file system could not hold them.
TEST(CheckTest, NamesEqualButForCaseAreRefused) {
  TempFolder folder;
  WriteTestFile(folder / "UPDATE.INI",
                "[SETUP]\r\nCompanyName=C\r\nGameTitle=T\r\nGameClass=G\r\nGameDir=D\r\n"
                "[UPDATE]\r\nUpdateFile00=A.DAT\r\n");
  WriteTestFile(folder / "A.DAT", "a");
  WriteTestFile(folder / "a.dat", "b");
  Outcome o = Check(folder.path());
  EXPECT_EQ(o.output,
            "a.dat: error: the same member name as A.DAT (case is ignored) (see "
            "docs/authoring.md#the-update-folder)\n");
  EXPECT_EQ(o.summary.errors, 1);
}

TEST(CheckTest, MissingFolderIsUnreadable) {
  TempFolder folder;
  Outcome o = Check(fs::path(folder.path()) / "none");
  EXPECT_TRUE(o.summary.unreadable);
  EXPECT_EQ(o.summary.errors, 1);
  EXPECT_NE(o.output.find("cannot read the folder"), std::string::npos);
}

}  // namespace

namespace {

// Whether the check reports anything at UPDATE.INI's line `line`.
bool FindingAt(const std::string& output, int line) {
  return output.find("UPDATE.INI:" + std::to_string(line) + ":") != std::string::npos;
}

// A folder with one 100-byte member and these lines after the [SETUP] header
// (lines 2 to 5 are the four keys the updater needs, GameTitle at 3).
Outcome CheckIni(const std::string& title, const std::string& update) {
  TempFolder folder;
  WriteTestFile(folder / "UPDATE.INI", "[SETUP]\r\nCompanyName=C\r\nGameTitle=" + title +
                                           "\r\nGameClass=G\r\nGameDir=D\r\n[UPDATE]\r\n" + update);
  WriteTestFile(folder / "A.DAT", std::string(100, 'a'));
  return Check(folder.path());
}

// The updater's name fields hold 259 bytes and a zero: 259 is whole.
TEST(CheckTest, AValueThatFillsItsFieldExactlyIsNotCut) {
  Outcome fits = CheckIni(std::string(259, 't'), "UpdateFile00=A.DAT\r\n");
  EXPECT_FALSE(FindingAt(fits.output, 3)) << fits.output;
  EXPECT_EQ(fits.summary.errors + fits.summary.warnings, 0) << fits.output;
  Outcome cut = CheckIni(std::string(260, 't'), "UpdateFile00=A.DAT\r\n");
  EXPECT_TRUE(FindingAt(cut.output, 3)) << cut.output;
}

// The updater stops only when the free space is less than RequiredDiskSpace;
// room for exactly the bytes written is enough.
TEST(CheckTest, RequiredDiskSpaceEqualToTheBytesWrittenIsEnough) {
  Outcome equal = CheckIni("T", "RequiredDiskSpace=100\r\nUpdateFile00=A.DAT\r\n");
  EXPECT_EQ(equal.summary.bytesWritten, 100u);
  EXPECT_FALSE(FindingAt(equal.output, 7)) << equal.output;
  EXPECT_EQ(equal.summary.warnings, 0) << equal.output;
  Outcome less = CheckIni("T", "RequiredDiskSpace=99\r\nUpdateFile00=A.DAT\r\n");
  EXPECT_TRUE(FindingAt(less.output, 7)) << less.output;
  EXPECT_EQ(less.summary.warnings, 1) << less.output;
}

}  // namespace
