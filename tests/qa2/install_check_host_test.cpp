// qa2's installation check on the small folders in tests/qa2/install/: each
// holds an installation's SETUP.INI with one kind of fault, and
// <case>.expected the reports it must give. Every case is also loaded by the
// updater's own loader, which must refuse exactly the cases with errors.
// QA_UPDATE_EXPECTED=1 rewrites the expected files.
#include "tools/qa2/install_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "settings/installation.h"
#include "settings/settings.h"
#include "tests/support/forwarding_platform.h"
#include "tests/support/text_output.h"
#include "tools/qa2/cp932.h"
#include "updater/state.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = QA_SOURCE_DIR;
const fs::path kCases = kSource / "tests/qa2/install";

struct Outcome {
  qa2::InstallCheckSummary summary;
  std::string output;
};

Outcome Check(const fs::path& dir) {
  Outcome o;
  o.output = test_support::CapturedOutput(
      [&](std::FILE* out) { o.summary = qa2::CheckInstallation(dir.u8string(), out); });
  return o;
}

using test_support::Count;
using test_support::ReadText;

TEST(InstallCheckTest, EachCaseGivesItsReports) {
  bool update = std::getenv("QA_UPDATE_EXPECTED") != nullptr;
  int cases = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(kCases)) {
    if (!e.is_directory()) continue;
    ++cases;
    const std::string name = e.path().filename().u8string();
    const fs::path expectedPath = kCases / (name + ".expected");
    Outcome o = Check(e.path());
    if (o.summary.errors == 0 && o.summary.warnings == 0) o.output += qa2::CleanInstallLine(o.summary) + "\n";
    if (update) std::ofstream(expectedPath, std::ios::binary) << o.output;
    EXPECT_EQ(o.output, ReadText(expectedPath)) << name;
    EXPECT_EQ(o.summary.errors, Count(o.output, ": error: ")) << name;
    EXPECT_EQ(o.summary.warnings, Count(o.output, ": warning: ")) << name;
    EXPECT_FALSE(o.summary.unreadable) << name;
  }
  EXPECT_GE(cases, 12);
}

// The check and the updater's loader agree: the loader fails on exactly the
// cases the check finds errors in, and every box the loader shows is the one
// the check quotes. Loaded as start-up loads it, with missing keys silent.
TEST(InstallCheckTest, TheUpdatersLoaderRefusesExactlyTheCasesWithErrors) {
  int compared = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(kCases)) {
    if (!e.is_directory()) continue;
    const std::string name = e.path().filename().u8string();
    Outcome o = Check(e.path());
    fs::path file = e.path() / o.summary.fileName;
    ResetSettingsState();
    Updater.Reset();
    ResetInstallationDescription();
    ASSERT_LT(file.string().size(), sizeof SetupIniPath);
    std::strcpy(SetupIniPath, file.string().c_str());
    QuietMissingKeys = 1;
    ForwardingPlatform os;
    int loaded = fs::exists(file) ? LoadInstallationDescription() : 0;
    EXPECT_EQ(loaded == 0, o.summary.errors > 0) << name << "\n" << o.output;
    for (const ForwardingPlatform::Box& box : os.boxes)
      EXPECT_NE(o.output.find(qa2::Cp932ToShown(box.text)), std::string::npos) << name << ": " << box.text;
    ++compared;
  }
  ResetSettingsState();
  ResetInstallationDescription();
  EXPECT_GE(compared, 12);
}

TEST(InstallCheckTest, SampleInstallationPassesClean) {
  Outcome o = Check(kSource / "samples/installation");
  EXPECT_EQ(o.output, "");
  EXPECT_EQ(qa2::CleanInstallLine(o.summary), "SETUP.INI: ok, 2 install choices, 2 shortcuts");
}

TEST(InstallCheckTest, ReportsPointToTheAuthorsPage) {
  const std::string page = ReadText(kSource / "docs/authoring.md");
  ASSERT_NE(page.find("\n## The installation's SETUP.INI\n"), std::string::npos);
  Outcome o = Check(kCases / "missing-keys");
  EXPECT_NE(o.output.find("(see docs/authoring.md#the-installations-setupini)"), std::string::npos);
}

TEST(InstallCheckTest, MissingFolderIsUnreadable) {
  Outcome o = Check(kCases / "no-such-folder");
  EXPECT_TRUE(o.summary.unreadable);
  EXPECT_EQ(o.summary.errors, 1);
}

}  // namespace
