#include "updater/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/updater/updater_world.h"
#include "updater/messages.h"

namespace {

using platform::Cp932ToUtf8;

constexpr char kUpdateIni[] =
    "[SETUP]\r\nCompanyName=TAVRIN\r\nGameTitle=UpdTitle\r\nGameClass=X\r\nGameDir=HOSHI\r\n"
    "[UPDATE]\r\nUpdateFile00=A.DAT\r\n";
constexpr char kSetupIni[] =
    "[SETUP]\r\nCompanyName=TAVRIN\r\nGameTitle=SetupTitle\r\nGameDir=HOSHI\r\n"
    "GameExe=GAME.EXE\r\nUninstExe=UNINST.EXE\r\nSetupBmp=A.BMP\r\nInstallSelects=1\r\n"
    "InstallTitle0=STD\r\nInstallFiles0=GAME.EXE\r\nShortcuts=0\r\nGameClass=GAMECLASS\r\n";
constexpr char kKey[] = "Software\\TAVRIN\\HOSHI";
constexpr char kTempIni[] = "C:\\TMP\\UPDATE-1092.INI";

// An installed game and an updater for it; messages are compared in UTF-8.
void Prepare(UpdaterWorld& world, const std::string& updateIni, bool registry = true) {
  Updater.Reset();
  world.os.SetResource("UPDATE", 102,
                       LayOutArchive({LiteralMember("UPDATE.INI", updateIni),
                                      StoredMember("A.DAT", "new A")},
                                     true));
  world.Put("GAME/SETUP.INI", kSetupIni);
  if (!registry) return;
  world.os.SetRegistryString(kKey, "InstPath", "C:\\GAME");
  world.os.SetRegistryString(kKey, "DataPath", "C:\\SAVE");
  world.os.SetRegistryDword(kKey, "InstMode", 0);
}

std::vector<std::string> BoxTexts(const UpdaterWorld& world) {
  std::vector<std::string> texts;
  for (const auto& b : world.os.boxes())
    texts.push_back(platform::Cp932ToUtf8(b.caption) + ": " + platform::Cp932ToUtf8(b.text));
  return texts;
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Prepare(world, kUpdateIni);
    Presses({kButtonNext, kButtonNext, kButtonNext});
  }
  void SetArchive(const std::string& updateIni) {
    world.os.SetResource("UPDATE", 102,
                         LayOutArchive({LiteralMember("UPDATE.INI", updateIni),
                                        StoredMember("A.DAT", "new A")},
                                       true));
  }
  void Presses(std::deque<int> presses) {
    world.os.dialogScript = [presses](platform::HostDialog& d) mutable {
      if (presses.empty()) return false;
      d.Press(presses.front());
      presses.pop_front();
      return true;
    };
  }
  std::vector<std::string> Boxes() { return BoxTexts(world); }
  // Exit code, after checking that the clean-up ran once and left nothing.
  int Run() {
    int code = RunUpdater();
    EXPECT_EQ(world.os.deletions().size(), 1u) << "clean-up runs exactly once";
    EXPECT_FALSE(Updater.Archive) << "archive released";
    EXPECT_FALSE(world.Exists("TMP/UPDATE-1092.INI"));
    EXPECT_EQ(Updater.OwnerWindow, nullptr);
    return code;
  }
  bool DialogRan() const { return world.os.lastDialog().window != nullptr; }

  UpdaterWorld world;
};

TEST_F(StartupTest, CompletedUpdateExitsWithOne) {
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(world.os.comInitialised, 1);
  EXPECT_EQ(world.os.deletions()[0], kTempIni);
  EXPECT_EQ(world.Get("GAME/A.DAT"), "new A");
  // Names from SETUP.INI from the load on: caption and first page.
  EXPECT_EQ(Cp932ToUtf8(world.os.lastDialog().title), "SetupTitle アップデータ ");
  EXPECT_STREQ(Updater.GameClass, "GAMECLASS");
  EXPECT_STREQ(Updater.DataPath, "C:\\SAVE");
}

// --- the failure table, row by row

TEST_F(StartupTest, MissingArchiveResource) {
  world.os.SetResource("UPDATE", 102, {});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"UPDATE: UPDATE.QA2 not found"});
}

TEST_F(StartupTest, UnreadableArchive) {
  world.os.SetResource("UPDATE", 102, {'Q', 'A', '2', 0, 0});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"UPDATE: RESOURCE READ ERROR"});
}

TEST_F(StartupTest, ArchiveWithoutUpdateIni) {
  world.os.SetResource("UPDATE", 102, LayOutArchive({StoredMember("A.DAT", "a")}, true));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"UPDATE: Can't Find File in Resource !!",
                                               "UPDATE: UPDATE.INI not found at UPDATE.QA2"}));
  EXPECT_EQ(world.os.deletions()[0], kTempIni);
}

TEST_F(StartupTest, TemporaryFolderTooLongFailsTheExtractionStep) {
  world.os.SetTempFolder("C:\\" + std::string(250, 'T') + "\\");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"UPDATE: UPDATE.INI not found at UPDATE.QA2"});
}

TEST_F(StartupTest, EachProcessExtractsItsOwnCopy) {
  world.os.SetProcessId(77);  // UPDATE-4D.INI
  world.os.processAlive = [](uint32_t pid) { return pid == 4242; };
  world.Put("TMP/UPDATE-1092.INI", "another process's copy");
  RunUpdater();
  EXPECT_EQ(world.os.deletions(), std::vector<std::string>{"C:\\TMP\\UPDATE-4D.INI"});
  EXPECT_EQ(world.Get("TMP/UPDATE-1092.INI"), "another process's copy");
  EXPECT_FALSE(world.Exists("TMP/UPDATE-4D.INI"));
}

TEST(StartupKeysTest, RequiredSetupKeyMissingStopsWithTheSettingsBoxOnly) {
  const char* keys[] = {"CompanyName", "GameTitle", "GameClass", "GameDir"};
  for (size_t k = 0; k < 4; ++k) {
    // An empty value counts as missing; GameClass counts although SETUP.INI
    // would supply it later.
    std::string ini = kUpdateIni;
    size_t at = ini.find(std::string(keys[k]) + "=") + std::strlen(keys[k]) + 1;
    ini.erase(at, ini.find("\r\n", at) - at);
    UpdaterWorld world;
    Prepare(world, ini);
    EXPECT_EQ(RunUpdater(), 0) << keys[k];
    EXPECT_EQ(BoxTexts(world), std::vector<std::string>{std::string("INSTCMMN: SETUP : ") +
                                                         keys[k] + " キーが存在しません"});
    EXPECT_TRUE(world.os.registryKeysOpened().empty()) << keys[k];
    EXPECT_EQ(world.os.deletions().size(), 1u) << keys[k];
    EXPECT_FALSE(world.Exists("TMP/UPDATE-1092.INI")) << keys[k];
    if (k + 1 < 4) EXPECT_FALSE(world.ProfileKeyRead(std::string("SETUP/") + keys[k + 1]));
  }
}

TEST_F(StartupTest, InstallationNotFoundInTheRegistry) {
  struct Case {
    const char* name;
    std::function<void(platform::HostPlatform&)> registry;
    bool installed;
  } cases[] = {
      {"no key", [](platform::HostPlatform& os) { os.SetRegistryString("Software\\Other\\X", "InstPath", "C:\\GAME"); }, false},
      {"InstMode missing",
       [](platform::HostPlatform& os) { os.SetRegistryString(kKey, "InstPath", "C:\\GAME"); },
       false},
      {"InstPath missing", [](platform::HostPlatform& os) { os.SetRegistryDword(kKey, "InstMode", 0); },
       false},
      {"InstPath of 260 bytes and its zero",
       [](platform::HostPlatform& os) {
         os.SetRegistryString(kKey, "InstPath", "C:\\" + std::string(257, 'P'));
         os.SetRegistryDword(kKey, "InstMode", 0);
       },
       false},
      {"DataPath missing",
       [](platform::HostPlatform& os) {
         os.SetRegistryString(kKey, "InstPath", "C:\\GAME");
         os.SetRegistryDword(kKey, "InstMode", 0);
       },
       true},
  };
  for (const Case& c : cases) {
    UpdaterWorld world;
    Prepare(world, kUpdateIni, false);
    c.registry(world.os);
    int code = RunUpdater();
    EXPECT_EQ(world.os.deletions().size(), 1u) << c.name;
    std::vector<std::string> boxes;
    for (const auto& b : world.os.boxes()) boxes.push_back(Cp932ToUtf8(b.text));
    EXPECT_EQ(world.os.registryKeysOpened(), std::vector<std::string>{kKey}) << c.name;
    if (c.installed) {
      // No dialog script: the dialog "fails", which is reported as usual.
      EXPECT_EQ(boxes, std::vector<std::string>{"アップデートが中断されました"}) << c.name;
      EXPECT_STREQ(Updater.DataPath, "") << c.name;
      continue;
    }
    EXPECT_EQ(code, 0) << c.name;
    EXPECT_EQ(boxes, std::vector<std::string>{"「UpdTitle」がインストールされていません"}) << c.name;
  }
}

TEST_F(StartupTest, RegistryPathThatFillsTheFieldIsTerminated) {
  // 260 bytes with no zero: cut to 259 and terminated, so the SETUP.INI check
  // fails on that path instead of reading past the field.
  std::string full = "C:\\" + std::string(257, 'P');
  world.os.SetRegistryValue(kKey, "InstPath", std::vector<uint8_t>(full.begin(), full.end()));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(std::strlen(Updater.InstPath), 259u);
  EXPECT_EQ(Boxes(), std::vector<std::string>{
                         "UPDATE: インストール先に \"SETUP.INI\" ファイルが見つかりません"});
}

TEST_F(StartupTest, StartupMessageComesBeforeTheSetupIniCheck) {
  std::string ini = kUpdateIni;
  ini.insert(ini.find("[UPDATE]"), "UpdateMessage=one\\ntwo\r\n");
  SetArchive(ini);
  std::filesystem::remove(world.Host("GAME/SETUP.INI"));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         "UPDATE: one\rtwo",
                         "UPDATE: インストール先に \"SETUP.INI\" ファイルが見つかりません"}));
  EXPECT_EQ(world.os.boxes()[0].style, platform::kBoxIconError);
}

TEST_F(StartupTest, InvalidSetupIniShowsOnlyTheLoadersMessage) {
  std::string ini = kSetupIni;
  ini.replace(ini.find("InstallSelects=1"), 16, "InstallSelects=4");
  world.Put("GAME/SETUP.INI", ini);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"INSTCMMN: SETUP.INI : InstallSelect オーバー"});
}

TEST_F(StartupTest, AnotherUpdaterWithTheCaptionIsRaisedSilently) {
  // Titles are code page 932 like every text.
  world.os.AddWindow("", "SetupTitle \x83" "A\x83" "b\x83v\x83" "f\x81[\x83^ ");
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(world.os.windows()[0].raised, 1);
  EXPECT_FALSE(DialogRan());
}

TEST_F(StartupTest, AnotherUpdaterComesBeforeTheRunningGame) {
  platform::Window game = world.os.AddWindow("GAMECLASS", "SetupTitle");
  platform::Window other =
      world.os.AddWindow("", "SetupTitle \x83" "A\x83" "b\x83v\x83" "f\x81[\x83^ ");
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(Boxes().empty()) << "no prompt about the game";
  for (const auto& w : world.os.windows())
    EXPECT_EQ(w.raised, w.id == other ? 1 : 0) << (w.id == game ? "game" : "updater");
  EXPECT_FALSE(DialogRan());
}

TEST_F(StartupTest, WithoutGameTitleAAnUntitledGameWindowIsNotTheGame) {
  world.os.AddWindow("GAMECLASS", "");
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(StartupTest, RunningGameIsAskedAboutUntilItEndsOrCancel) {
  // Main title twice, then gone; then the alternative title, then Cancel.
  std::string ini = kUpdateIni;
  ini.insert(ini.find("[UPDATE]"), "GameTitleA=AltTitle\r\nUpdaterTitle=My Updater\r\n");
  SetArchive(ini);
  platform::Window main = world.os.AddWindow("GAMECLASS", "SetupTitle");
  platform::Window alt = world.os.AddWindow("GAMECLASS", "AltTitle");
  int asked = 0;
  world.os.boxResponder = [&](const platform::BoxRecord& box) {
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.style, platform::kBoxOkCancel);
    EXPECT_EQ(box.caption, "My Updater");
    if (++asked == 2) world.os.RemoveWindow(main);
    return asked < 3 ? platform::kAnswerOk : platform::kAnswerCancel;
  };
  EXPECT_EQ(Run(), 0);
  std::string prompt =
      "My Updater: 「%s」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] "
      "を、アップデートを中止する場合は [キャンセル] を押して下さい";
  std::string mainPrompt = prompt, altPrompt = prompt;
  mainPrompt.replace(mainPrompt.find("%s"), 2, "SetupTitle");
  altPrompt.replace(altPrompt.find("%s"), 2, "AltTitle");
  EXPECT_EQ(Boxes(), (std::vector<std::string>{mainPrompt, mainPrompt, altPrompt}));
  ASSERT_EQ(world.os.windows().size(), 1u);
  EXPECT_EQ(world.os.windows()[0].id, alt);
  EXPECT_EQ(world.os.windows()[0].raised, 1);
  EXPECT_FALSE(DialogRan());
}

TEST_F(StartupTest, GameGoneAfterOkStartsTheDialog) {
  platform::Window main = world.os.AddWindow("GAMECLASS", "SetupTitle");
  world.os.boxResponder = [&](const platform::BoxRecord&) {
    world.os.RemoveWindow(main);
    return platform::kAnswerOk;
  };
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(world.os.boxes().size(), 1u);
}

TEST_F(StartupTest, InterruptedDialogIsReportedAndExitsWithZero) {
  struct Case {
    const char* name;
    std::deque<int> presses;
    bool failCreation;
    int code;
  } cases[] = {
      {"Abort on the first page", {kButtonAbort}, false, 0},
      {"dialog cannot be created", {}, true, 0},
      {"window gone on the confirmation page", {kButtonNext}, false, 0},
      // On the completion page any way out is a completed update.
      {"close box on the completion page", {kButtonNext, kButtonNext, kButtonAbort}, false, 1},
      {"window gone on the completion page", {kButtonNext, kButtonNext}, false, 1},
  };
  for (const Case& c : cases) {
    UpdaterWorld world;
    Prepare(world, kUpdateIni);
    world.os.failDialogCreation = c.failCreation;
    std::deque<int> presses = c.presses;
    world.os.dialogScript = [presses](platform::HostDialog& d) mutable {
      if (presses.empty()) return false;
      d.Press(presses.front());
      presses.pop_front();
      return true;
    };
    EXPECT_EQ(RunUpdater(), c.code) << c.name;
    EXPECT_EQ(world.os.deletions().size(), 1u) << c.name;
    std::vector<std::string> boxes;
    for (const auto& b : world.os.boxes()) {
      boxes.push_back(Cp932ToUtf8(b.text));
      EXPECT_EQ(b.owner, nullptr) << c.name;
    }
    if (c.code == 1)
      EXPECT_TRUE(boxes.empty()) << c.name;
    else
      EXPECT_EQ(boxes, std::vector<std::string>{"アップデートが中断されました"}) << c.name;
  }
}

// --- pure pieces

TEST(StartupMessageTest, OnlyBackslashNIsALineBreak) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"one\\ntwo", "one\rtwo"},
      {"a\\\\nb", "a\\\rb"},
      {"end\\", "end\\"},
      {"\\N\\r\\t", "\\N\\r\\t"},
      // 表 is 0x95 0x5C: its second byte is no backslash.
      {"\x95\x5Cn", "\x95\x5Cn"},
      {"\x95\x5C\\n", "\x95\x5C\r"},
      // A lead byte at the very end is a character of its own.
      {"x\x95", "x\x95"},
      {"", ""},
  };
  for (const Case& c : cases) {
    char out[1024];
    std::memset(out, 'Z', sizeof out);
    TranslateStartupMessage(c.in.c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out), c.out) << c.in;
  }
  // A message that fills the 1023 bytes of its field fits as it is.
  std::string full(1023, 'm');
  char out[1024];
  TranslateStartupMessage(full.c_str(), out, sizeof out);
  EXPECT_EQ(std::string(out), full);
}

TEST(CaptionTest, UpdaterTitleWinsElseTitleWordAndVersion) {
  struct Case {
    const char* updaterTitle;
    const char* version;
    std::string caption;
  } cases[] = {
      {"My Updater", "1.01", "My Updater"},
      {"", "1.01", "GAME アップデータ 1.01"},
      {"", "", "GAME アップデータ "},
  };
  for (const Case& c : cases) {
    char out[1024];
    ComposeCaption(c.updaterTitle, "GAME", c.version, out, sizeof out);
    EXPECT_EQ(Cp932ToUtf8(out), c.caption);
  }
}

TEST(MessagesTest, TextsAreTheCodePage932Originals) {
  struct Case {
    const char* text;
    const char* utf8;
  } cases[] = {
      {kMsgNotInstalledFormat, "「%s」がインストールされていません"},
      {kMsgSetupIniMissing, "インストール先に \"SETUP.INI\" ファイルが見つかりません"},
      {kMsgGameRunningFormat,
       "「%s」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] "
       "を、アップデートを中止する場合は [キャンセル] を押して下さい"},
      {kMsgInterrupted, "アップデートが中断されました"},
      {kCaptionFormat, "%s アップデータ %s"},
      {kMsgStartFormat, "「%s」のアップデートを開始します"},
      {kMsgConfirm, "アップデートを実行します"},
      {kMsgRunning, "アップデートを実行しています"},
      {kMsgNothingToUpdate, "アップデートする必要のあるファイルはありません"},
      {kMsgWriteFailed, "ファイルの書き込みに失敗しました"},
      {kMsgInsertDiscFormat, "ＣＤ－ＲＯＭドライブに「%s」ディスク %i を入れて下さい"},
      {kMsgCopyingFormat, "%s をコピーしています"},
      {kMsgCopyFailedFormat, "SETUP.INI : \"%s\" のコピーに失敗しました"},
      {kMsgCompleted, "アップデートは完了しました"},
      {kTextDone, "完了"},
  };
  for (const Case& c : cases) EXPECT_EQ(Cp932ToUtf8(c.text), c.utf8);
  char text[1024];
  std::snprintf(text, sizeof text, kMsgNoSpaceFormat, "C:", uint64_t(5000000000ULL));
  EXPECT_EQ(Cp932ToUtf8(text),
            "ディスク容量が足りません。\rC: ドライブに 5000000000 バイトの空き容量が必要です");
}

}  // namespace

// --- leftovers of killed runs in the temporary folder

TEST_F(StartupTest, OnlyStaleCopiesOfThisUpdatesIniAreRemoved) {
  world.os.processAlive = [](uint32_t pid) { return pid == 0x64; };
  const std::string ours = kUpdateIni;
  const std::string cut = ours.substr(0, 20);  // a write of it cut short
  const std::vector<std::pair<std::string, std::string>> gone = {
      {"UPDATE-63.INI", ours}, {"UPDATE-63.INI.~63.tmp", cut}, {"UPDATE-1A2B.INI", ours},
      {"UPDATE-1A2B.INI.~5.tmp", ""}};
  const std::vector<std::pair<std::string, std::string>> kept = {
      {"UPDATE-64.INI", ours},              // a running copy's
      {"UPDATE-64.INI.~64.tmp", cut},       // being extracted by it
      {"UPDATE-63.INI.~64.tmp", cut},       // written by a running copy
      {"UPDATE-1A2C.INI", "[SETUP]\r\n"},  // another program's, or another update's
      {"UPDATE-4660.INI", ours + "x"},      // an older updater's live copy (decimal id)
      {"UPDATE-65.INI.~65.tmp", "[OTHER]"},  // not the beginning of ours
      {"UPDATE-abc.ini", ours},             // never a name of ours: hex is upper case
      {"UPDATE-63.TXT", ours},              // not an INI
      {"UPDATE-63.INI.BAK", ours},          // nor this
      {"UPDATE-63.TXT.~63.tmp", cut},
      {"UPDATE-XYZ.INI", ours},             // not a process id
      {"UPDATE-123456789.INI", ours},       // too long for one
      {"UPDATE.INI", ours}};
  for (const auto& f : gone) world.Put("TMP/" + f.first, f.second);
  for (const auto& f : kept) world.Put("TMP/" + f.first, f.second);
  EXPECT_EQ(RunUpdater(), 1);
  for (const auto& f : gone) EXPECT_FALSE(world.Exists("TMP/" + f.first)) << f.first;
  for (const auto& f : kept) EXPECT_EQ(world.Get("TMP/" + f.first), f.second) << f.first;
  EXPECT_FALSE(world.Exists("TMP/UPDATE-1092.INI"));
}

TEST_F(StartupTest, WhatIsPlantedAtTheCopysNameIsRemovedNotWrittenThrough) {
  world.Put("victim.txt", "victim");
  ASSERT_EQ(::symlink(world.Host("victim.txt").c_str(), world.Host("TMP/UPDATE-1092.INI").c_str()), 0);
  EXPECT_EQ(RunUpdater(), 1);
  EXPECT_EQ(world.Get("victim.txt"), "victim");
  EXPECT_FALSE(world.Exists("TMP/UPDATE-1092.INI"));
  world.Put("TMP/UPDATE-1092.INI", "[SETUP]\r\nCompanyName=OTHER\r\n");
  Prepare(world, kUpdateIni);
  Presses({kButtonNext, kButtonNext, kButtonNext});
  const size_t before = world.os.deletions().size();
  EXPECT_EQ(RunUpdater(), 1);  // read ours, not what was there
  EXPECT_FALSE(world.Exists("TMP/UPDATE-1092.INI"));
  // Deleted before the copy is written (nothing of it carries over) and after.
  EXPECT_EQ(std::count(world.os.deletions().begin() + long(before), world.os.deletions().end(), kTempIni), 2);
}

TEST_F(StartupTest, NothingIsSweptWhenTheTemporaryFolderIsUnknown) {
  // The copy then goes to the current folder, which is not swept: the
  // same name there may be anyone's.
  world.os.SetTempFolder("");
  world.os.processAlive = [](uint32_t) { return false; };
  WriteTestFile("UPDATE-63.INI", kUpdateIni);
  RunUpdater();
  EXPECT_TRUE(TestFileExists("UPDATE-63.INI"));
  std::remove("UPDATE-63.INI");
  std::remove("UPDATE-1092.INI");
}
