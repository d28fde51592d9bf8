// An update checked against the installation it is for: what each folder's
// own check cannot see.
#include "tools/qa2/install_match.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/temp_folder.h"
#include "tests/support/text_output.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = QA_SOURCE_DIR;

void Write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string FillerEntries(int from, int to) {
  std::string text;
  for (int n = from; n < to; ++n) text += (n < 10 ? "UpdateFile0" : "UpdateFile") + std::to_string(n) + "=A.DAT\r\n";
  return text;
}

TEST(InstallMatchTest, WrongNameMissingFolderAndLongPathAreRefusedWithTheirFix) {
  TempFolder update, install;
  fs::copy(kSource / "samples/installation", fs::u8path(install.path()), fs::copy_options::recursive);
  fs::create_directory(fs::u8path(install.path()) / "Sub");
  const std::string deep(235, 'D');
  Write(fs::u8path(update / "UPDATE.INI"),
        "[SETUP]\r\nCompanyName=tavrin\r\nGameTitle=T\r\nGameClass=C\r\nGameDir=HOSHI2\r\n[UPDATE]\r\n"
        "UpdateFile00=SUB\\A.DAT\r\nUpdateFile01=NONE\\A.DAT\r\nUpdateFile02=o,NONE\\A.DAT\r\n"
        "UpdateFile03=2,NONE\\A.DAT\r\nUpdateFile04=" + deep + "\\A.DAT\r\nUpdateFile05=SETUP.INI\r\n" +
        FillerEntries(6, 15) + "UpdateFile15=NONE\\B.DAT\r\n");
  Write(fs::u8path(update / "A.DAT"), "a");
  Write(fs::u8path(update / "SETUP.INI"), "[SETUP]\r\nCompanyName=TAVRIN\r\n");

  qa2::InstallMatchOptions options;
  options.mode = 1;
  options.instPath = "C:\\GAMES\\HOSHI";
  qa2::CheckSummary summary;
  const std::string out = test_support::CapturedOutput(
      [&](std::FILE* f) { summary = qa2::CheckUpdateAgainstInstallation(update.path(), install.path(), options, f); });

  // CompanyName differs in case only, as registry names may; GameDir does not.
  EXPECT_EQ(test_support::Count(out, "CompanyName"), 0) << out;
  EXPECT_NE(out.find("UPDATE.INI:5: error: GameDir 'HOSHI2' is not the installation's 'HOSHI'"), std::string::npos) << out;
  EXPECT_NE(out.find("write GameDir=HOSHI"), std::string::npos) << out;
  // SUB is found as Sub; NONE is missing: an error for a Replace entry, a
  // note for o, nothing for an entry of install mode 2.
  EXPECT_EQ(out.find("UpdateFile00"), std::string::npos) << out;
  EXPECT_NE(out.find("UPDATE.INI:8: error: UpdateFile01: the installation has no folder 'NONE'"), std::string::npos)
      << out;
  EXPECT_NE(out.find("UPDATE.INI:9: note: UpdateFile02: the installation has no folder 'NONE', so the entry is skipped"),
            std::string::npos) << out;
  EXPECT_EQ(out.find("UpdateFile03"), std::string::npos) << out;
  EXPECT_NE(out.find("UPDATE.INI:22: error: UpdateFile15: the installation has no folder 'NONE'"), std::string::npos)
      << out;
  // 14 + 1 + 235 + 6 = 256 bytes: fits. One more folder byte would not.
  EXPECT_EQ(out.find("bytes, past the 259"), std::string::npos) << out;
  options.instPath = "C:\\GAMES\\HOSHI\\XY";  // exactly 259 bytes: fits
  const std::string exact = test_support::CapturedOutput(
      [&](std::FILE* f) { qa2::CheckUpdateAgainstInstallation(update.path(), install.path(), options, f); });
  EXPECT_EQ(exact.find("past the 259"), std::string::npos) << exact;
  options.instPath = "C:\\GAMES\\HOSHI\\XYZ";
  const std::string longer = test_support::CapturedOutput(
      [&](std::FILE* f) { qa2::CheckUpdateAgainstInstallation(update.path(), install.path(), options, f); });
  EXPECT_NE(longer.find("is 260 bytes, past the 259 a Windows path holds"), std::string::npos) << longer;
  EXPECT_NE(longer.find("shorten the entry's path by 1 bytes"), std::string::npos) << longer;
  // The SETUP.INI it ships is checked as the installation's would be.
  EXPECT_NE(out.find("SETUP.INI:1: error: [SETUP] GameTitle is missing"), std::string::npos) << out;
  EXPECT_EQ(summary.errors, test_support::Count(out, ": error: "));
  EXPECT_EQ(summary.warnings, test_support::Count(out, ": warning: "));  // notes are neither
  EXPECT_GE(summary.errors, 3);
}

}  // namespace

namespace {

// With --base: an installed target that is a base's version or the new one
// passes; anything else is named, as the version gate would refuse it.
TEST(InstallMatchTest, InstalledVersionMustBeABaseOrTheNewOne) {
  TempFolder update, install, base;
  fs::copy(kSource / "samples/installation", fs::u8path(install.path()), fs::copy_options::recursive);
  Write(fs::u8path(update / "UPDATE.INI"),
        "[SETUP]\r\nCompanyName=tavrin\r\nGameTitle=T\r\nGameClass=C\r\nGameDir=HOSHI\r\n[UPDATE]\r\n"
        "UpdateFile00=GAME.EXE\r\nUpdateFile01=PATCH.DAT\r\nUpdateFile02=README.TXT\r\n");
  fs::copy(fs::u8path(install / "GAME.EXE"), fs::u8path(base / "game.exe"));  // a base's, by another case
  fs::copy(fs::u8path(install / "PATCH.DAT"), fs::u8path(update / "PATCH.DAT"));  // already new
  Write(fs::u8path(update / "GAME.EXE"), "new game");
  Write(fs::u8path(update / "README.TXT"), "new readme");
  Write(fs::u8path(base / "README.TXT"), "another readme");
  qa2::InstallMatchOptions options;
  options.bases = {base.path()};
  const std::string out = test_support::CapturedOutput(
      [&](std::FILE* f) { qa2::CheckUpdateAgainstInstallation(update.path(), install.path(), options, f); });
  EXPECT_EQ(test_support::Count(out, "is neither the new version nor any --base's"), 1) << out;
  EXPECT_NE(out.find("UpdateFile02: the installation's 'README.TXT'"), std::string::npos) << out;
}

}  // namespace
