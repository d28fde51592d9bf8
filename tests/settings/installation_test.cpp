// Loading SETUP.INI from real files, boxes captured through the platform.
#include "settings/installation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "settings/settings.h"
#include "tests/support/forwarding_platform.h"
#include "tests/support/temp_folder.h"
#include "updater/state.h"

namespace {

// The messages' Japanese parts, written out here rather than taken from the
// code: キーが存在しません, エラー, オーバー.
const std::string kKeyMissing =
    "\x83L\x81[\x82\xAA\x91\xB6\x8D\xDD\x82\xB5\x82\xDC\x82\xB9\x82\xF1";
const std::string kError = "\x83G\x83\x89\x81[";
const std::string kOver = "\x83I\x81[\x83o\x81[";
// ＤｉｒｅｃｔＸをインストールする, インストール方法を選択して下さい
const std::string kDefaultDX =
    "\x82\x63\x82\x89\x82\x92\x82\x85\x82\x83\x82\x94\x82\x77\x82\xF0\x83\x43\x83\x93\x83\x58"
    "\x83\x67\x81\x5B\x83\x8B\x82\xB7\x82\xE9";
const std::string kDefaultSelect =
    "\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x95\xFB\x96\x40\x82\xF0\x91\x49\x91\xF0"
    "\x82\xB5\x82\xC4\x89\xBA\x82\xB3\x82\xA2";

using Keys = std::vector<std::pair<std::string, std::string>>;

// Keys 1 to 11 and nothing else.
Keys RequiredKeys() {
  return {{"CompanyName", "Maker"},   {"GameTitle", "Title"},
          {"GameDir", "Dir"},         {"GameExe", "game.exe"},
          {"UninstExe", "uninst.exe"}, {"SetupBmp", "a.bmp,b.bmp"},
          {"InstallSelects", "2"},    {"InstallTitle0", "Full"},
          {"InstallFiles0", "x.dat"}, {"InstallTitle1", "Small"},
          {"InstallFiles1", "y.dat"}, {"Shortcuts", "1"},
          {"Shortcut0", "game.exe,Play"}};
}

// Sets `key` to `value`, replacing it where it stands or appending it;
// a null value removes the key.
Keys With(Keys keys, const std::string& key, const char* value) {
  for (auto it = keys.begin(); it != keys.end(); ++it) {
    if (it->first != key) continue;
    if (value)
      it->second = value;
    else
      keys.erase(it);
    return keys;
  }
  if (value) keys.emplace_back(key, value);
  return keys;
}

// Records which keys the loader asks for.
class RecordingPlatform : public ForwardingPlatform {
 public:
  std::vector<std::string> reads;
  uint32_t ReadProfileString(const char* s, const char* k, const char* f, char* b, uint32_t n,
                             const char* p) override {
    reads.push_back(k);
    return ForwardingPlatform::ReadProfileString(s, k, f, b, n, p);
  }
  bool Read(const std::string& key) const {
    for (const std::string& r : reads)
      if (r == key) return true;
    return false;
  }
};

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettingsState();
    Updater.Reset();
    ResetInstallationDescription();
    std::string path = folder_ / "SETUP.INI";
    ASSERT_LT(path.size(), sizeof SetupIniPath);
    std::strcpy(SetupIniPath, path.c_str());
  }
  void TearDown() override {
    ResetSettingsState();
    ResetInstallationDescription();
  }

  int Load(const Keys& keys) {
    std::string text = "[SETUP]\r\n";
    for (const auto& kv : keys) text += kv.first + "=" + kv.second + "\r\n";
    WriteTestFile(SetupIniPath, text);
    return LoadInstallationDescription();
  }

  const InstallationDescription& d = Installation;
  TempFolder folder_;
  RecordingPlatform os_;
};

// Each row breaks one thing; loading shows exactly that message and stops
// before the optional keys (which would set QuietMissingKeys).
TEST_F(LoaderTest, EachFailureShowsItsMessageAndStopsLoading) {
  struct Case {
    const char* key;
    const char* value;  // null: the key is absent
    std::string message;
  } cases[] = {
      {"CompanyName", nullptr, "SETUP.INI : CompanyName " + kKeyMissing},
      {"GameTitle", "", "SETUP.INI : GameTitle " + kKeyMissing},
      {"GameDir", nullptr, "SETUP.INI : GameDir " + kKeyMissing},
      {"GameExe", "", "SETUP.INI : GameExe " + kKeyMissing},
      {"UninstExe", nullptr, "SETUP.INI : UninstExe " + kKeyMissing},
      {"SetupBmp", nullptr, "SETUP.INI : SetupBmp " + kKeyMissing},
      {"SetupBmp", ",X", "SETUP.INI : SetupBmps " + kError},
      {"SetupBmp", "  ,X", "SETUP.INI : SetupBmps " + kError},
      {"InstallSelects", nullptr, "SETUP.INI : InstallSelects " + kKeyMissing},
      {"InstallSelects", "4", "SETUP.INI : InstallSelect " + kOver},
      {"InstallTitle1", nullptr, "SETUP.INI : InstallTitle1 " + kKeyMissing},
      {"InstallFiles1", nullptr, "SETUP.INI : InstallFiles1 " + kKeyMissing},
      {"InstallFiles0", ",x.dat", "SETUP.INI : InstallFiles0 " + kError},
      {"InstallFiles1", ",,", "SETUP.INI : InstallFiles1 " + kError},
      {"Shortcuts", nullptr, "SETUP.INI : Shortcuts " + kKeyMissing},
      {"Shortcuts", "11", "SETUP.INI : Shortcuts " + kOver},
      {"Shortcut0", nullptr, "SETUP.INI : Shortcut0 " + kKeyMissing},
      {"Shortcut0", "X", "SETUP.INI : Shortcut0 " + kError},
      {"Shortcut0", "X,,Z", "SETUP.INI : Shortcut0 " + kError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + (c.value ? c.value : "(absent)"));
    ResetSettingsState();
    std::strcpy(SetupIniPath, (folder_ / "SETUP.INI").c_str());
    os_.boxes.clear();
    EXPECT_EQ(Load(With(RequiredKeys(), c.key, c.value)), 0);
    ASSERT_EQ(os_.boxes.size(), 1u);
    EXPECT_EQ(os_.boxes[0].text, c.message);
    EXPECT_EQ(os_.boxes[0].caption, "INSTCMMN");
    EXPECT_EQ(QuietMissingKeys, 0);
  }
}

TEST_F(LoaderTest, ListErrorsAfterTheRequiredKeysStillShow) {
  struct Case {
    const char* value;
    bool loads;
  } cases[] = {{"P", false}, {",Q", false}, {"P,Q,R", true}};
  for (const Case& c : cases) {
    os_.boxes.clear();
    EXPECT_EQ(Load(With(RequiredKeys(), "ExecApp", c.value)), c.loads ? 1 : 0) << c.value;
    if (c.loads) {
      EXPECT_TRUE(os_.boxes.empty());
      EXPECT_STREQ(d.ExecApp[0], "P");
      EXPECT_STREQ(d.ExecApp[1], "Q");
    } else {
      ASSERT_EQ(os_.boxes.size(), 1u) << c.value;
      EXPECT_EQ(os_.boxes[0].text, "SETUP.INI : ExecApp " + kError);
    }
  }
}

TEST_F(LoaderTest, RequiredKeysAloneLoadWithTheDefaults) {
  ASSERT_EQ(Load(RequiredKeys()), 1);
  EXPECT_TRUE(os_.boxes.empty());
  EXPECT_STREQ(Updater.CompanyName, "Maker");
  EXPECT_STREQ(Updater.GameTitle, "Title");
  EXPECT_STREQ(Updater.GameDir, "Dir");
  EXPECT_STREQ(Updater.GameClass, "Title");
  EXPECT_STREQ(d.GameExe, "game.exe");
  EXPECT_STREQ(d.UninstExe, "uninst.exe");
  EXPECT_STREQ(d.SetupBmp[1], "b.bmp");
  EXPECT_STREQ(d.SetupBmp[2], "");
  EXPECT_EQ(d.SetupBmpLast, 1);
  EXPECT_STREQ(d.InstallTitle[1], "Small");
  EXPECT_STREQ(d.InstallFiles[1][0], "y.dat");
  EXPECT_STREQ(d.InstallFiles[1][1], "");
  EXPECT_STREQ(d.Shortcut[0][0], "game.exe");
  EXPECT_STREQ(d.Shortcut[0][1], "Play");
  EXPECT_STREQ(d.Shortcut[0][2], "");
  EXPECT_EQ(d.DefaultSelect, 0);
  EXPECT_EQ(d.InstallSize[0], 0u);
  for (const auto& file : d.DiskCheckFile) EXPECT_STREQ(file, "");
  EXPECT_STREQ(d.ExecApp[0], "");
  EXPECT_EQ(d.InstallDirectX, 0u);
  EXPECT_EQ(d.InstallDXMessage, kDefaultDX);
  EXPECT_EQ(d.SelectSetupMessage, kDefaultSelect);
  EXPECT_EQ(d.AdditionalUninstallFilesCount, 0);
  EXPECT_EQ(d.UseCompanyNameForShortcutGroup, 0);
  EXPECT_EQ(QuietMissingKeys, 1);
}

TEST_F(LoaderTest, InstallationNamesReplaceThoseFromTheUpdate) {
  std::strcpy(Updater.CompanyName, "UpdateMaker");
  std::strcpy(Updater.GameClass, "UpdateClass");
  ASSERT_EQ(Load(With(RequiredKeys(), "GameClass", "WndClass")), 1);
  EXPECT_STREQ(Updater.CompanyName, "Maker");
  EXPECT_STREQ(Updater.GameClass, "WndClass");
}

TEST_F(LoaderTest, OptionalKeysAreReadIntoTheirFields) {
  Keys keys = RequiredKeys();
  keys = With(keys, "DefaultSelect", "1");
  keys = With(keys, "InstallSize0", "123456789012");
  keys = With(keys, "InstallSize1", "-1");
  keys = With(keys, "DiskCheckFile0", "CD1.CHK");
  keys = With(keys, "DiskCheckFile9", "CD9.CHK");
  keys = With(keys, "InstallDXMessage", "DX?");
  keys = With(keys, "SelectSetupMessage", "Which?");
  keys = With(keys, "AdditionalUninstallFiles", "save\\*.*, log.txt");
  keys = With(keys, "UseCompanyNameForShortcutGroup", "-3");
  ASSERT_EQ(Load(keys), 1);
  EXPECT_EQ(d.DefaultSelect, 1);
  EXPECT_EQ(d.InstallSize[0], 123456789012u);
  EXPECT_EQ(d.InstallSize[1], UINT64_MAX);
  EXPECT_STREQ(d.DiskCheckFile[0], "CD1.CHK");
  EXPECT_STREQ(d.DiskCheckFile[5], "");
  EXPECT_STREQ(d.DiskCheckFile[9], "CD9.CHK");
  EXPECT_STREQ(d.InstallDXMessage, "DX?");
  EXPECT_STREQ(d.SelectSetupMessage, "Which?");
  EXPECT_EQ(d.AdditionalUninstallFilesCount, 2);
  EXPECT_STREQ(d.AdditionalUninstallFiles[0], "save\\*.*");
  EXPECT_STREQ(d.AdditionalUninstallFiles[1], "log.txt");
  EXPECT_EQ(d.UseCompanyNameForShortcutGroup, 1);
}

TEST_F(LoaderTest, InstallSizeCountsOnlyNineteenBytes) {
  ASSERT_EQ(Load(With(RequiredKeys(), "InstallSize0", "12345678901234567890123")), 1);
  EXPECT_EQ(d.InstallSize[0], 1234567890123456789u);
}

TEST_F(LoaderTest, DirectXFlagsFromTheLowTwoBits) {
  struct Case {
    const char* value;
    uint32_t flags;
  } cases[] = {{"0", 0x10000}, {"1", 0x10008}, {"2", 0x10010}, {"3", 0x10018},
               {"7", 0x10018}, {"abc", 0x10000}, {"-1", 0x10018}, {nullptr, 0}};
  for (const Case& c : cases) {
    Installation.InstallDirectX = 0xDEAD;
    ASSERT_EQ(Load(With(RequiredKeys(), "InstallDirectX", c.value)), 1);
    EXPECT_EQ(d.InstallDirectX, c.flags) << (c.value ? c.value : "(absent)");
  }
}

TEST_F(LoaderTest, ChoiceAndShortcutCountsAtTheirLimits) {
  Keys keys = With(RequiredKeys(), "InstallSelects", "3");
  keys = With(keys, "InstallTitle2", "Third");
  keys = With(keys, "InstallFiles2", "z.dat");
  keys = With(keys, "Shortcuts", "10");
  for (int i = 0; i < 10; ++i)
    keys = With(keys, "Shortcut" + std::to_string(i),
                ("t" + std::to_string(i) + ",n" + std::to_string(i)).c_str());
  ASSERT_EQ(Load(keys), 1);
  EXPECT_STREQ(d.InstallFiles[2][0], "z.dat");
  EXPECT_STREQ(d.Shortcut[9][1], "n9");
}

TEST_F(LoaderTest, NoChoicesReadsNoChoiceKeys) {
  for (const char* count : {"0", "-1"}) {
    os_.reads.clear();
    // Broken choice keys would fail the load if they were read.
    Keys keys = With(RequiredKeys(), "InstallSelects", count);
    keys = With(keys, "InstallFiles0", ",");
    keys = With(keys, "Shortcuts", count);
    keys = With(keys, "Shortcut0", "X");
    ASSERT_EQ(Load(keys), 1) << count;
    EXPECT_FALSE(os_.Read("InstallTitle0"));
    EXPECT_FALSE(os_.Read("InstallSize0"));
    EXPECT_FALSE(os_.Read("Shortcut0"));
    EXPECT_TRUE(os_.Read("DiskCheckFile9"));
  }
}

TEST_F(LoaderTest, DiskPrefixesPerChoiceStartAgainAtZero) {
  Keys keys = With(RequiredKeys(), "InstallFiles0", "A,2:B,D");
  keys = With(keys, "InstallFiles1", "E,F");
  ASSERT_EQ(Load(keys), 1);
  EXPECT_STREQ(d.InstallFiles[0][1], "B");
  EXPECT_EQ(d.InstallFilesDisk[0][0], 0);
  EXPECT_EQ(d.InstallFilesDisk[0][1], 2);
  EXPECT_EQ(d.InstallFilesDisk[0][2], 2);
  EXPECT_EQ(d.InstallFilesNeedDisk[0], 1);
  EXPECT_EQ(d.InstallFilesDisk[1][0], 0);
  EXPECT_EQ(d.InstallFilesDisk[1][1], 0);
  EXPECT_EQ(d.InstallFilesNeedDisk[1], 0);
}

TEST_F(LoaderTest, ListsStopAtAnEmptyTokenOrTheirLimit) {
  std::string files, bmps, uninstall;
  for (int i = 1; i <= 45; ++i) files += "f" + std::to_string(i) + ",";
  for (int i = 1; i <= 25; ++i) bmps += "b" + std::to_string(i) + ",";
  for (int i = 1; i <= 21; ++i) uninstall += "u" + std::to_string(i) + ",";
  // The full list in the last choice: a 41st name would land past it.
  Keys keys = With(RequiredKeys(), "InstallFiles1", files.c_str());
  keys = With(keys, "InstallFiles0", "A,,B");
  keys = With(keys, "SetupBmp", bmps.c_str());
  keys = With(keys, "Shortcut0", "X,Y,Z,W");
  keys = With(keys, "AdditionalUninstallFiles", uninstall.c_str());
  Installation.SetupBmpLast = 99;  // left alone when the list reaches its limit
  ASSERT_EQ(Load(keys), 1);
  EXPECT_STREQ(d.InstallFiles[1][39], "f40");
  EXPECT_STREQ(d.InstallFiles[2][0], "");
  EXPECT_STREQ(d.InstallFiles[0][0], "A");
  EXPECT_STREQ(d.InstallFiles[0][1], "");
  EXPECT_STREQ(d.SetupBmp[19], "b20");
  EXPECT_EQ(d.SetupBmpLast, 99);
  EXPECT_STREQ(d.Shortcut[0][2], "Z");
  EXPECT_EQ(d.AdditionalUninstallFilesCount, 20);
  EXPECT_STREQ(d.AdditionalUninstallFiles[19], "u20");
  EXPECT_TRUE(os_.boxes.empty());
}

TEST_F(LoaderTest, AbsentKeysLeaveTheZeroStartFieldsAlone) {
  std::strcpy(Installation.ExecApp[1], "kept");
  Installation.AdditionalUninstallFilesCount = 7;
  ASSERT_EQ(Load(RequiredKeys()), 1);
  EXPECT_STREQ(d.ExecApp[0], "");
  EXPECT_STREQ(d.ExecApp[1], "kept");
  EXPECT_EQ(d.AdditionalUninstallFilesCount, 7);
  // Present but empty of tokens: counted from 0.
  ASSERT_EQ(Load(With(RequiredKeys(), "AdditionalUninstallFiles", ",x")), 1);
  EXPECT_EQ(d.AdditionalUninstallFilesCount, 0);
}

TEST_F(LoaderTest, QuietModeStillShowsTheLoadersOwnMessages) {
  QuietMissingKeys = 1;  // as start-up leaves it
  EXPECT_EQ(Load(With(RequiredKeys(), "GameExe", nullptr)), 0);
  EXPECT_TRUE(os_.boxes.empty());
  EXPECT_EQ(Load(With(RequiredKeys(), "Shortcuts", "11")), 0);
  ASSERT_EQ(os_.boxes.size(), 1u);
  EXPECT_EQ(os_.boxes[0].text, "SETUP.INI : Shortcuts " + kOver);
}

// Shortcut values are read 260 bytes at a time into the buffer that the
// 1,024-byte lists used before; a scanner that stepped past a value filling
// those 260 bytes would read on into the older list.
TEST_F(LoaderTest, ShortValueReadEndsAtItsOwnZero) {
  std::string stale;
  while (stale.size() < 900) stale += "STALE,";
  Keys keys = With(RequiredKeys(), "InstallFiles1", stale.c_str());
  std::string shortcut = "X," + std::string(257, 'y') + ",Z";  // read as its first 259 bytes
  keys = With(keys, "Shortcut0", shortcut.c_str());
  ASSERT_EQ(Load(keys), 1);
  EXPECT_EQ(std::string(d.Shortcut[0][1]), std::string(257, 'y'));
  EXPECT_STREQ(d.Shortcut[0][2], "");
}

TEST_F(LoaderTest, OverlongNamesAreCutToTheirFields) {
  std::string longName(300, 'n');
  Keys keys = With(RequiredKeys(), "GameTitle", longName.c_str());
  keys = With(keys, "InstallFiles0", ("1:" + longName + ",after").c_str());
  ASSERT_EQ(Load(keys), 1);
  EXPECT_EQ(std::string(Updater.GameTitle), longName.substr(0, 259));
  EXPECT_EQ(std::string(Updater.GameClass), longName.substr(0, 259));
  EXPECT_EQ(std::string(d.InstallFiles[0][0]), longName.substr(0, 259));
  EXPECT_STREQ(d.InstallFiles[0][1], "after");
  EXPECT_EQ(d.InstallFilesDisk[0][1], 1);
}

}  // namespace
