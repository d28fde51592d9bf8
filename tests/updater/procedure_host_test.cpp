#include "updater/procedure.h"

#include <gtest/gtest.h>

#include <string>

#include "archive/patch.h"
#include "tests/updater/updater_world.h"
#include "updater/messages.h"
#include "updater/progress.h"

namespace {

using platform::kAttrDirectory;
using platform::kInvalidAttributes;

// --- reading the entries

TEST(UpdateEntryTest, ValueSyntaxGivesModeKindPathAndMemberName) {
  struct Case {
    const char* value;
    int32_t instMode;
    bool applies;
    int32_t kind;
    const char* path;
    int32_t nameOffset;
  } cases[] = {
      {"SETUP.INI", 0, true, Replace, "SETUP.INI", 0},
      {"1,u,SUB\\FILE.BIN", 1, true, Update, "SUB\\FILE.BIN", 4},
      {"1,u,SUB\\FILE.BIN", 0, false, 0, "", 0},
      {"d,SAVE.DAT", 7, true, Data, "SAVE.DAT", 0},
      {"D,SAVE.DAT", 0, true, Data, "SAVE.DAT", 0},  // kind letters in either case
      {"O,A.DAT", 0, true, Overwrite, "A.DAT", 0},
      {"2,A.DAT", 2, true, Replace, "A.DAT", 0},
      {"2,A.DAT", 1, false, 0, "", 0},
      // Two digits are not an install mode: the token is the path.
      {"12,A.DAT", 3, true, Replace, "12", 0},
      // A kind letter with nothing after it leaves the path empty.
      {"u", 0, true, Update, "", 0},
      {"0,d", 0, true, Data, "", 0},
      // Leading blanks skipped; a disk prefix dropped; a fourth token ignored.
      {"  1, o ,X", 1, true, Replace, "o ", 0},
      {"1,o,3:A\\B\\C.DAT,more", 1, true, Overwrite, "A\\B\\C.DAT", 4},
      // The slash does not separate; 表 (0x95 0x5C) does not end a folder.
      {"A/B.DAT", 0, true, Replace, "A/B.DAT", 0},
      {"\x95\x5C" "B.DAT", 0, true, Replace, "\x95\x5C" "B.DAT", 0},
      {"\x95\x5C\\B.DAT", 0, true, Replace, "\x95\x5C\\B.DAT", 3},
  };
  for (const Case& c : cases) {
    UpdateItem item{};
    item.kind = -1;
    EXPECT_EQ(ParseUpdateEntry(c.value, c.instMode, &item), c.applies) << c.value;
    if (!c.applies) continue;
    EXPECT_EQ(item.kind, c.kind) << c.value;
    EXPECT_STREQ(item.path, c.path) << c.value;
    EXPECT_EQ(item.nameOffset, c.nameOffset) << c.value;
  }
}

TEST(CopyEntryTest, PrefixesAreReadCharacterByCharacter) {
  struct Case {
    const char* value;
    int32_t instMode;
    bool applies;
    int32_t disk;
    const char* path;
  } cases[] = {
      {"0,1:MOVIE", 0, true, 1, "MOVIE"},
      {"0,1:MOVIE", 1, false, 0, ""},
      {"2:DATA\\A.BIN", 5, true, 2, "DATA\\A.BIN"},
      {"MOVIE\\A B,C.MPG", 0, true, 0, "MOVIE\\A B,C.MPG"},  // commas and blanks kept
      // Any first character before a comma is a mode: 'A' is mode 17.
      {"A,X.DAT", 17, true, 0, "X.DAT"},
      {"A,X.DAT", 0, false, 0, ""},
      // A disk character that is no digit gives a number outside 0..9.
      {"X:FILE", 0, true, 'X' - '0', "FILE"},
      {"1", 0, true, 0, "1"},
      {"1,", 1, true, 0, ""},
  };
  for (const Case& c : cases) {
    CopyItem item{};
    EXPECT_EQ(ParseCopyEntry(c.value, c.instMode, &item), c.applies) << c.value;
    if (!c.applies) continue;
    EXPECT_EQ(item.disk, c.disk) << c.value;
    EXPECT_STREQ(item.path, c.path) << c.value;
  }
}

// --- deciding

TEST(DecideItemTest, KindAndOverwriteOnlyGiveTheTableAction) {
  constexpr uint32_t kFile = 0x20, kFolder = kAttrDirectory, kAbsent = kInvalidAttributes;
  using A = ItemAction;
  struct Case {
    int32_t kind;
    bool overwriteOnly;
    uint32_t target;
    ItemAction action;
  } cases[] = {
      {Replace, false, kAbsent, A::Extract},          {Replace, true, kAbsent, A::Skip},
      {Replace, true, kFolder, A::Skip},              {Replace, true, kFile, A::Extract},
      {Update, false, kAbsent, A::ExtractIfNewer},    {Update, true, kAbsent, A::Skip},
      {Update, true, kFile, A::ExtractIfNewer},       {Data, false, kAbsent, A::KeepOrExtract},
      {Data, true, kAbsent, A::Skip},                 {Data, true, kFolder, A::Skip},
      {Data, true, kFile, A::KeepOrExtract},          {Overwrite, false, kAbsent, A::Skip},
      {Overwrite, false, kFolder, A::Skip},           {Overwrite, false, kFile, A::Extract},
      {Overwrite, true, kFile | 1, A::Extract},       {Overwrite, true, kAbsent, A::Skip},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DecideItem(c.kind, c.overwriteOnly, c.target), c.action)
        << "kind " << c.kind << " overwriteOnly " << c.overwriteOnly << " attrs " << c.target;
}

TEST(SpaceIsShortTest, EqualPassesAndTheShortfallIsNotCutTo32Bits) {
  uint64_t shortfall = 0;
  EXPECT_FALSE(SpaceIsShort(1000, 1000, &shortfall));
  EXPECT_TRUE(SpaceIsShort(1000, 999, &shortfall));
  EXPECT_EQ(shortfall, 1u);
  EXPECT_TRUE(SpaceIsShort(0xFFFFFFFFu, 0, &shortfall));
  EXPECT_EQ(shortfall, 0xFFFFFFFFull);
  EXPECT_FALSE(SpaceIsShort(0xFFFFFFFFu, 1ull << 40, &shortfall));
}

// --- the procedure on a scripted machine

class RunUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world.SetArchive({LiteralMember("A.DAT", "new A", kMemberTime),
                      StoredMember("B.DAT", "new B", kMemberTime),
                      StoredMember("SAVE.DAT", "default save", kMemberTime)});
  }
  // Next twice: confirmation, then the update.
  intptr_t Run(const std::string& updateSection) {
    world.SetUpdateIni("[UPDATE]\r\n" + updateSection);
    return world.RunDialog({kButtonNext, kButtonNext});
  }
  const platform::HostDialog& Dialog() { return world.os.lastDialog(); }
  std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const auto& b : world.os.boxes()) texts.push_back(b.text);
    return texts;
  }
  bool Completed() {
    return Dialog().Text(kInfoTextId) == kMsgCompleted && Dialog().Text(kButtonNext) == kTextDone &&
           Dialog().Enabled(kButtonNext) && !Dialog().Enabled(kButtonBack) &&
           !Dialog().Enabled(kButtonAbort) && Dialog().focus == kButtonNext && !Dialog().ended;
  }

  static constexpr uint64_t kMemberTime = 0x01D0000000000000ULL;
  UpdaterWorld world;
};

TEST_F(RunUpdateTest, EachKindWritesAsTheDecisionTableSaysWithOverwriteOnlyOff) {
  world.Put("GAME/A.DAT", "old A");
  world.Put("GAME/B.DAT", "installed B, later than the member");
  world.Put("SAVE/SAVE.DAT", "player's save");
  world.SetWriteTime("C:\\SAVE\\SAVE.DAT", "player's save", kMemberTime);
  Run("UpdateFile00=A.DAT\r\nUpdateFile01=u,B.DAT\r\nUpdateFile02=d,SAVE.DAT\r\n"
      "UpdateFile03=o,MISSING.DAT\r\nUpdateFile04=o,A.DAT\r\n");
  EXPECT_TRUE(Completed());
  EXPECT_TRUE(world.os.boxes().empty());
  EXPECT_EQ(world.Get("GAME/A.DAT"), "new A");
  EXPECT_EQ(world.Get("GAME/B.DAT"), "installed B, later than the member");
  EXPECT_EQ(world.Get("SAVE/SAVE.DAT"), "player's save");
  EXPECT_GT(world.WriteTime("C:\\SAVE\\SAVE.DAT"), kMemberTime) << "rewritten now";
  EXPECT_FALSE(world.Exists("GAME/MISSING.DAT"));
}

TEST_F(RunUpdateTest, AbsentTargetsAreWrittenOrSkippedByKind) {
  for (bool overwriteOnly : {false, true}) {
    std::filesystem::remove_all(world.Host("GAME"));
    std::filesystem::remove_all(world.Host("SAVE"));
    world.MakeFolder("GAME");
    world.MakeFolder("SAVE");
    Run(std::string("OverwriteOnly=") + (overwriteOnly ? "1" : "0") +
        "\r\nUpdateFile00=A.DAT\r\nUpdateFile01=u,B.DAT\r\nUpdateFile02=d,SAVE.DAT\r\n"
        "UpdateFile03=o,A.DAT\r\n");
    EXPECT_TRUE(Completed());
    EXPECT_EQ(world.Exists("GAME/A.DAT"), !overwriteOnly) << overwriteOnly;
    EXPECT_EQ(world.Exists("GAME/B.DAT"), !overwriteOnly) << overwriteOnly;
    EXPECT_EQ(world.Exists("SAVE/SAVE.DAT"), !overwriteOnly) << overwriteOnly;
    if (!overwriteOnly) EXPECT_EQ(world.Get("SAVE/SAVE.DAT"), "default save");
  }
}

TEST_F(RunUpdateTest, OverwriteOnlyWritesExistingFilesAndKeepsData) {
  world.Put("GAME/A.DAT", "old A");
  world.SetWriteTime("C:\\GAME\\B.DAT", "installed B", kMemberTime);  // equal time: written
  world.Put("SAVE/SAVE.DAT", "player's save");
  world.MakeFolder("GAME/DIR.DAT");
  Run("OverwriteOnly=1\r\nUpdateFile00=A.DAT\r\nUpdateFile01=u,B.DAT\r\n"
      "UpdateFile02=d,SAVE.DAT\r\nUpdateFile03=DIR.DAT\r\n");
  EXPECT_TRUE(Completed());
  EXPECT_EQ(world.Get("GAME/A.DAT"), "new A");
  EXPECT_EQ(world.Get("GAME/B.DAT"), "new B");
  EXPECT_EQ(world.Get("SAVE/SAVE.DAT"), "player's save");
}

TEST_F(RunUpdateTest, DataRewriteThatFailsLeavesThePlayersFileAndGoesOn) {
  world.Put("SAVE/SAVE.DAT", "player's save");
  world.SetWriteTime("C:\\SAVE\\SAVE.DAT", "player's save", kMemberTime);
  world.os.FailWriteNumber(1);  // the rewrite dies half-way
  Run("UpdateFile00=d,SAVE.DAT\r\nUpdateFile01=A.DAT\r\n");
  EXPECT_TRUE(Completed());
  EXPECT_EQ(world.Get("SAVE/SAVE.DAT"), "player's save");
  EXPECT_EQ(world.WriteTime("C:\\SAVE\\SAVE.DAT"), kMemberTime);
  EXPECT_EQ(world.Get("GAME/A.DAT"), "new A");
}

TEST_F(RunUpdateTest, MissingSubfolderFailsTheWriteAndEndsTheDialog) {
  Run("UpdateFile00=A.DAT\r\nUpdateFile01=NOSUCH\\B.DAT\r\nUpdateFile02=SAVE.DAT\r\n");
  EXPECT_TRUE(Dialog().ended);
  EXPECT_EQ(Dialog().endCode, -1);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kMsgWriteFailed});
  EXPECT_EQ(world.Get("GAME/A.DAT"), "new A") << "applied items stay";
  EXPECT_FALSE(world.Exists("GAME/SAVE.DAT"));
}

TEST_F(RunUpdateTest, MemberMissingFromTheArchiveShowsBothMessages) {
  Run("UpdateFile00=NOPE.DAT\r\n");
  EXPECT_EQ(Dialog().endCode, -1);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Can't Find File in Resource !!", kMsgWriteFailed}));
}

TEST_F(RunUpdateTest, DataFolderIsCreatedAndJoinedForEveryKind) {
  std::strcpy(Updater.DataFolder, "SUB");
  Run("UpdateFile00=A.DAT\r\nUpdateFile01=d,SAVE.DAT\r\nUpdateFile02=o,B.DAT\r\n");
  EXPECT_TRUE(Completed());
  EXPECT_EQ(world.Get("GAME/SUB/A.DAT"), "new A");
  EXPECT_EQ(world.Get("SAVE/SUB/SAVE.DAT"), "default save");
  EXPECT_TRUE(std::filesystem::is_directory(world.Host("GAME/SUB")))
      << "created even for the skipped item's base";
}

TEST_F(RunUpdateTest, SameMemberNameInTwoFoldersWritesBoth) {
  world.MakeFolder("GAME/X");
  world.MakeFolder("GAME/Y");
  Run("UpdateFile00=X\\A.DAT\r\nUpdateFile01=Y\\A.DAT\r\n");
  EXPECT_EQ(world.Get("GAME/X/A.DAT"), "new A");
  EXPECT_EQ(world.Get("GAME/Y/A.DAT"), "new A");
}

TEST_F(RunUpdateTest, AGapEndsTheListAndKeySixteenIsNeverRead) {
  Run("UpdateFile00=A.DAT\r\nUpdateFile01=B.DAT\r\nUpdateFile03=SAVE.DAT\r\n");
  EXPECT_EQ(Tables.ItemCount, 2);
  EXPECT_FALSE(world.Exists("GAME/SAVE.DAT"));
  EXPECT_FALSE(world.ProfileKeyRead("UPDATE/UpdateFile03"));

  std::string all;
  for (int n = 0; n <= 16; ++n) {
    char line[40];
    std::snprintf(line, sizeof line, "UpdateFile%02d=A.DAT\r\nCopyFile%02d=0,X\r\n", n, n);
    all += line;
  }
  Updater.InstMode = 1;  // the copy entries are all for mode 0
  Run(all);
  EXPECT_EQ(Tables.ItemCount, 16);
  EXPECT_FALSE(world.ProfileKeyRead("UPDATE/UpdateFile16"));
  EXPECT_FALSE(world.ProfileKeyRead("UPDATE/CopyFile16"));
}

TEST_F(RunUpdateTest, ACopyListGapEndsItToo) {
  Updater.InstMode = 1;  // no disc is searched for: every copy entry is for mode 0
  Run("CopyFile00=0,A\r\nCopyFile01=0,B\r\nCopyFile03=0,C\r\n");
  EXPECT_EQ(Tables.CopyCount, 0);
  EXPECT_TRUE(world.ProfileKeyRead("UPDATE/CopyFile01"));
  EXPECT_TRUE(world.ProfileKeyRead("UPDATE/CopyFile02"));
  EXPECT_FALSE(world.ProfileKeyRead("UPDATE/CopyFile03"));
}

TEST_F(RunUpdateTest, InstallModeFiltersEntriesAndNothingLeftIsACompletion) {
  Updater.InstMode = 1;
  Run("UpdateFile00=0,A.DAT\r\nUpdateFile01=1,B.DAT\r\nCopyFile00=0,1:X\r\n");
  EXPECT_TRUE(Completed());
  EXPECT_FALSE(world.Exists("GAME/A.DAT"));
  EXPECT_EQ(world.Get("GAME/B.DAT"), "new B");
  EXPECT_TRUE(world.os.copies().empty());

  Updater.InstMode = 2;
  Run("UpdateFile00=0,A.DAT\r\nUpdateFile01=1,B.DAT\r\nCopyFile00=0,1:X\r\n");
  EXPECT_TRUE(Completed());
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kMsgNothingToUpdate});
  EXPECT_FALSE(world.Exists("GAME/A.DAT"));
}

TEST_F(RunUpdateTest, NoEntryKeysAtAllEndsTheDialog) {
  Run("UpdateFile01=A.DAT\r\nCopyFile01=X\r\n");
  EXPECT_EQ(Dialog().endCode, -1);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kMsgNoEntries});
}

TEST_F(RunUpdateTest, ShortDriveShowsTheFullShortfallAndWritesNothing) {
  struct Case {
    const char* required;
    uint64_t free;
    const char* shortfall;  // nullptr: passes
  } cases[] = {
      {"1000", 1000, nullptr},
      {"1000", 999, "1"},
      {"-1", 0, "4294967295"},          // 0xFFFFFFFF as unsigned, past 2^31
      {"3000000000", 0, "2147483647"},  // the conversion clamps to the 32-bit range
  };
  for (const Case& c : cases) {
    std::filesystem::remove(world.Host("GAME/A.DAT"));
    world.os.SetFreeSpace('C', c.free);
    Run(std::string("RequiredDiskSpace=") + c.required + "\r\nUpdateFile00=A.DAT\r\n");
    if (!c.shortfall) {
      EXPECT_TRUE(Completed()) << c.required;
      continue;
    }
    char expected[1024];
    std::snprintf(expected, sizeof expected, kMsgNoSpaceFormat, "C:",
                  uint64_t(std::stoull(c.shortfall)));
    EXPECT_EQ(Dialog().Text(kInfoTextId), expected);
    EXPECT_NE(Dialog().Text(kInfoTextId).find(std::string(" ") + c.shortfall + " "),
              std::string::npos);
    EXPECT_TRUE(Dialog().Enabled(kButtonBack));
    EXPECT_FALSE(Dialog().Enabled(kButtonNext));
    EXPECT_TRUE(Dialog().Enabled(kButtonAbort));
    EXPECT_FALSE(Dialog().ended);
    EXPECT_FALSE(world.Exists("GAME/A.DAT"));
  }
}

// The gate judges only what the writing pass would write: a record for a
// data item, or for an o item whose target is absent, stops nothing.
TEST_F(RunUpdateTest, GatedRecordsOfItemsLeftAloneStopNothing) {
  std::vector<PatchTarget> records(2);
  std::strcpy(records[0].name, "SAVE.DAT");
  std::strcpy(records[1].name, "OPT.DAT");
  for (PatchTarget& r : records) {
    r.flags = kPatchGated;
    r.newSize = 1;
    r.bases.push_back(PatchBase{});
  }
  const std::vector<uint8_t> table = StorePatchTable(records);
  world.SetArchive({StoredMember("SAVE.DAT", "default", kMemberTime),
                    StoredMember(kPatchTableName, std::string(table.begin(), table.end()), kMemberTime)});
  world.Put("SAVE/SAVE.DAT", "player's");
  Run("UpdateFile00=d,SAVE.DAT\r\nUpdateFile01=o,OPT.DAT\r\n");
  EXPECT_TRUE(Completed());
  EXPECT_EQ(world.Get("SAVE/SAVE.DAT"), "player's");
}

TEST_F(RunUpdateTest, FreeSpaceThatCannotBeAskedForDoesNotStopTheUpdate) {
  std::strcpy(Updater.InstPath, "Z:\\GAME");  // no such drive
  Run("RequiredDiskSpace=1\r\n");
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kMsgNoEntries});
}

// --- discs and the shell copy

class DiscTest : public RunUpdateTest {
 protected:
  void SetUp() override {
    RunUpdateTest::SetUp();
    std::strcpy(Installation.DiskCheckFile[1], "DISC1.CHK");
    std::strcpy(Installation.DiskCheckFile[2], "DISC2.CHK");
    disc1.Make("DISC1.CHK");
    disc2.Make("DISC2.CHK");
  }
  struct Disc {
    TempFolder folder;
    void Make(const std::string& check) {
      WriteTestFile(folder / check, "check");
      std::filesystem::create_directories(folder / "MOVIE");
      WriteTestFile(folder / "MOVIE/OP.MPG", "movie");
    }
  };
  std::vector<std::string> Prompts() {
    std::vector<std::string> prompts;
    for (const auto& b : world.os.boxes())
      if (b.style == platform::kBoxOkCancel) prompts.push_back(b.text);
    return prompts;
  }
  Disc disc1, disc2;
};

TEST_F(DiscTest, SearchTakesTheFirstCdRomDriveHoldingTheCheckFile) {
  world.os.MapDrive('D', disc1.folder.path(), 3);  // fixed disk with the file: not a CD
  world.os.MapDrive('E', disc2.folder.path(), platform::kDriveCdRom);
  world.os.MapDrive('G', disc1.folder.path(), platform::kDriveCdRom);
  world.os.MapDrive('H', disc1.folder.path(), platform::kDriveCdRom);
  char root[3] = {};
  ASSERT_TRUE(FindDisc(1, root));
  EXPECT_STREQ(root, "G:");
  ASSERT_TRUE(FindDisc(2, root));
  EXPECT_STREQ(root, "E:");
  // DiskCheckFile3 unset: the root alone is checked, so any disc will do.
  ASSERT_TRUE(FindDisc(3, root));
  EXPECT_STREQ(root, "E:");
  // A check path that is a folder counts as found.
  std::strcpy(Installation.DiskCheckFile[5], "MOVIE");
  EXPECT_TRUE(FindDisc(5, root));
  // Disk numbers outside 0..9 name no check file and are never found.
  for (int32_t disk : {-1, 10, 'X' - '0'}) EXPECT_FALSE(FindDisc(disk, root)) << disk;
}

// Discs 0 and 9 are the ends of the ten names SETUP.INI gives.
TEST_F(DiscTest, DiscsZeroAndNineAreFoundLikeEveryOther) {
  std::strcpy(Installation.DiskCheckFile[0], "DISC0.CHK");
  std::strcpy(Installation.DiskCheckFile[9], "DISC9.CHK");
  Disc disc0, disc9;
  disc0.Make("DISC0.CHK");
  disc9.Make("DISC9.CHK");
  world.os.MapDrive('E', disc0.folder.path(), platform::kDriveCdRom);
  world.os.MapDrive('F', disc9.folder.path(), platform::kDriveCdRom);
  char root[3] = {};
  ASSERT_TRUE(FindDisc(0, root));
  EXPECT_STREQ(root, "E:");
  ASSERT_TRUE(FindDisc(9, root));
  EXPECT_STREQ(root, "F:");

  Run("CopyFile00=9:MOVIE\\OP.MPG\r\n");
  EXPECT_TRUE(Completed());
  EXPECT_TRUE(Prompts().empty());
  EXPECT_EQ(world.Get("GAME/MOVIE/OP.MPG"), "movie");
}

TEST_F(DiscTest, TheLastDriveLetterIsSearchedToo) {
  world.os.MapDrive('Z', disc1.folder.path(), platform::kDriveCdRom);
  char root[3] = {};
  ASSERT_TRUE(FindDisc(1, root));
  EXPECT_STREQ(root, "Z:");
  EXPECT_FALSE(FindDisc(2, root));
}

TEST_F(DiscTest, PromptRepeatsUntilTheDiscIsInAndCancelEnds) {
  int answered = 0;
  world.os.boxResponder = [&](const platform::BoxRecord&) {
    // First OK with nothing inserted; then the disc goes in.
    if (++answered == 2) world.os.MapDrive('Q', disc1.folder.path(), platform::kDriveCdRom);
    return platform::kAnswerOk;
  };
  Run("CopyFile00=1:MOVIE\\OP.MPG\r\n");
  EXPECT_TRUE(Completed());
  char prompt[1024];
  std::snprintf(prompt, sizeof prompt, kMsgInsertDiscFormat, "GAME", 1);
  EXPECT_EQ(Prompts(), (std::vector<std::string>{prompt, prompt}));
  for (const auto& b : world.os.boxes()) EXPECT_EQ(b.owner, Dialog().window);
  EXPECT_EQ(world.Get("GAME/MOVIE/OP.MPG"), "movie");

  world.os.boxResponder = [](const platform::BoxRecord&) { return platform::kAnswerCancel; };
  Run("CopyFile00=2:MOVIE\\OP.MPG\r\n");
  EXPECT_EQ(Dialog().endCode, -1);
}

TEST_F(DiscTest, DiskCharacterOutsideTheTenNamesIsNeverFound) {
  world.os.MapDrive('Q', disc1.folder.path(), platform::kDriveCdRom);
  int prompts = 0;
  world.os.boxResponder = [&](const platform::BoxRecord&) {
    return ++prompts < 3 ? platform::kAnswerOk : platform::kAnswerCancel;
  };
  Run("CopyFile00=X:MOVIE\\OP.MPG\r\n");
  EXPECT_EQ(prompts, 3);
  char prompt[1024];
  std::snprintf(prompt, sizeof prompt, kMsgInsertDiscFormat, "GAME", 'X' - '0');
  EXPECT_EQ(world.os.boxes().back().text, prompt);
  EXPECT_EQ(Dialog().endCode, -1);
  EXPECT_TRUE(world.os.copies().empty());
}

TEST_F(DiscTest, FileAndFolderCopiesUseTheirFlagsAndDestinations) {
  world.os.MapDrive('E', disc2.folder.path(), platform::kDriveCdRom);  // any disc, but not disc 1
  world.os.MapDrive('Q', disc1.folder.path(), platform::kDriveCdRom);
  world.os.copyOutcome = platform::ShellCopyResult{0, false};
  // The item without a disk number takes the drive that disc 1 was found in.
  Run("CopyFile00=1:MOVIE\\OP.MPG\r\nCopyFile01=MOVIE\r\nCopyFile02=1:NOT THERE,1\r\n");
  EXPECT_TRUE(Completed()) << world.os.boxes().size();
  const auto& copies = world.os.copies();
  ASSERT_EQ(copies.size(), 3u);
  EXPECT_EQ(copies[0].from, "Q:\\MOVIE\\OP.MPG");
  EXPECT_EQ(copies[0].to, "C:\\GAME\\MOVIE\\OP.MPG");
  EXPECT_EQ(copies[0].flags, 528u);
  EXPECT_EQ(copies[0].owner, Dialog().window);
  EXPECT_EQ(copies[1].from, "Q:\\MOVIE");
  EXPECT_EQ(copies[1].to, "C:\\GAME");
  EXPECT_EQ(copies[1].flags, 1552u);
  // A source that cannot be read is copied as a folder would be.
  EXPECT_EQ(copies[2].from, "Q:\\NOT THERE,1");
  EXPECT_EQ(copies[2].to, "C:\\GAME");
  EXPECT_EQ(copies[2].flags, 1552u);
}

TEST_F(DiscTest, ItemWithoutDiskBeforeAnySearchLooksForDiskZero) {
  // DiskCheckFile0 unset: any disc in a CD-ROM drive serves.
  world.os.copyOutcome = platform::ShellCopyResult{0, false};
  world.os.boxResponder = [&](const platform::BoxRecord&) {
    world.os.MapDrive('R', disc2.folder.path(), platform::kDriveCdRom);
    return platform::kAnswerOk;
  };
  Run("CopyFile00=MOVIE\\OP.MPG\r\n");
  EXPECT_TRUE(Completed());
  char prompt[1024];
  std::snprintf(prompt, sizeof prompt, kMsgInsertDiscFormat, "GAME", 0);
  EXPECT_EQ(Prompts(), std::vector<std::string>{prompt});
  ASSERT_EQ(world.os.copies().size(), 1u);
  EXPECT_EQ(world.os.copies()[0].from, "R:\\MOVIE\\OP.MPG");
}

TEST_F(DiscTest, AbortedCopyEndsSilentlyAndAFailedOneWithItsBox) {
  world.os.MapDrive('Q', disc1.folder.path(), platform::kDriveCdRom);
  world.os.copyOutcome = platform::ShellCopyResult{0x4C7, true};
  Run("CopyFile00=1:MOVIE\\OP.MPG\r\n");
  EXPECT_EQ(Dialog().endCode, -1);
  EXPECT_TRUE(world.os.boxes().empty());

  world.os.copyOutcome = platform::ShellCopyResult{2, false};
  Run("CopyFile00=1:MOVIE\\OP.MPG\r\n");
  EXPECT_EQ(Dialog().endCode, -1);
  ASSERT_EQ(world.os.boxes().size(), 1u);
  char text[1024];
  std::snprintf(text, sizeof text, kMsgCopyFailedFormat, "MOVIE\\OP.MPG");
  EXPECT_EQ(world.os.boxes()[0].text, text);
  EXPECT_EQ(world.os.boxes()[0].style, platform::kBoxIconError);
  EXPECT_EQ(world.os.boxes()[0].owner, Dialog().window);
}

TEST_F(DiscTest, CopyShowsItsPathWhileRunningAndLeavesAWritableFile) {
  world.os.MapDrive('Q', disc1.folder.path(), platform::kDriveCdRom);
  std::filesystem::permissions(disc1.folder / "MOVIE/OP.MPG", std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);  // as a disc's files are
  std::string shown;
  world.os.onCopy = [&](const platform::CopyRecord&) {
    shown = world.os.dialog()->Text(kInfoTextId);
  };
  Run("CopyFile00=1:MOVIE\\OP.MPG\r\n");
  char text[1024];
  std::snprintf(text, sizeof text, kMsgCopyingFormat, "MOVIE\\OP.MPG");
  EXPECT_EQ(shown, text);
  EXPECT_EQ(world.Get("GAME/MOVIE/OP.MPG"), "movie");
  EXPECT_EQ(world.os.GetFileAttributes("C:\\GAME\\MOVIE\\OP.MPG") & platform::kAttrReadOnly, 0u);
}

// --- paths that do not fit their fields

TEST_F(RunUpdateTest, TargetPathBeyondTheFieldFailsTheWriteWithoutOverrun) {
  std::string longFolder(250, 'F');
  std::strcpy(Updater.InstPath, ("C:\\" + longFolder).c_str());
  Run("UpdateFile00=ABCDEFGHIJ.DAT\r\n");
  EXPECT_EQ(Dialog().endCode, -1);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kMsgWriteFailed});
}

TEST_F(DiscTest, CopyPathBeyondTheFieldFailsTheCopy) {
  world.os.MapDrive('Q', disc1.folder.path(), platform::kDriveCdRom);
  // "Q:\" and 257 bytes and two zeros need 262 bytes.
  std::string longName(257, 'N');
  Run("CopyFile00=1:" + longName + "\r\n");
  EXPECT_EQ(Dialog().endCode, -1);
  EXPECT_TRUE(world.os.copies().empty());
  ASSERT_EQ(world.os.boxes().size(), 1u);
  EXPECT_EQ(world.os.boxes()[0].style, platform::kBoxIconError);
}

}  // namespace

// --- the progress bar

namespace progress_bar {

TEST_F(DiscTest, ProgressBarClimbsWithTheBytesThenGivesWayToTheShellsWindow) {
  world.SetArchive({StoredMember("BIG.DAT", std::string(3u << 20, 'b'), kMemberTime),
                    StoredMember("SAVE.DAT", "default save", kMemberTime),
                    StoredMember("NEWER.DAT", std::string(1u << 19, 'n'), kMemberTime)});
  world.Put("SAVE/SAVE.DAT", std::string(3u << 19, 's'));
  // Left alone, it still moves the bar by its share.
  world.SetWriteTime("C:\\GAME\\NEWER.DAT", "installed later", kMemberTime + 1);
  world.os.MapDrive('E', disc1.folder.path(), platform::kDriveCdRom);
  const int writesBefore = world.os.writes();
  Run("UpdateFile00=BIG.DAT\r\nUpdateFile01=o,NONE.DAT\r\nUpdateFile02=d,SAVE.DAT\r\n"
      "UpdateFile03=u,NEWER.DAT\r\nCopyFile00=1:MOVIE\r\n");
  ASSERT_TRUE(Completed());
  const auto& events = Dialog().progress;
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().what, "show");
  EXPECT_EQ(events.front().writes, writesBefore) << "shown before the first write";
  // 3 MB of member, the 1.5 MB save and the 0.5 MB left alone, a piece at
  // a time: a fifth of the range after the first piece, the whole of it
  // before the copy.
  std::vector<uint32_t> positions;
  size_t i = 1;
  for (; i < events.size() && events[i].what == "position"; ++i) positions.push_back(events[i].position);
  ASSERT_GE(positions.size(), 4u);
  EXPECT_EQ(positions.front(), uint32_t(uint64_t(platform::kProgressRange) / 5));
  for (size_t k = 1; k < positions.size(); ++k) EXPECT_GT(positions[k], positions[k - 1]);
  EXPECT_EQ(positions.back(), platform::kProgressRange);
  ASSERT_EQ(events.size(), i + 2);
  EXPECT_EQ(events[i].what, "hide");
  EXPECT_EQ(events[i].copies, 0u) << "hidden before the shell's copy";
  EXPECT_EQ(events[i + 1].what, "remove");
  EXPECT_EQ(events[i + 1].copies, 1u);
}

TEST_F(RunUpdateTest, ProgressBarIsGoneBeforeAFailureShows) {
  std::string lastBefore;
  world.os.boxResponder = [&](const platform::BoxRecord&) {
    lastBefore = world.os.dialog()->progress.back().what;
    return platform::kAnswerOk;
  };
  Run("UpdateFile00=A.DAT\r\nUpdateFile01=MISSING.DAT\r\n");
  EXPECT_EQ(BoxTexts().size(), 2u);
  EXPECT_EQ(lastBefore, "remove");
}

// An item that hands over more than its share (a save grown since it was
// measured) never moves the bar into the next item's share.
TEST(ProgressMeterTest, AnItemStaysWithinItsShare) {
  ProgressMeter meter;
  meter.Begin(nullptr);
  meter.SetTotal(20);
  meter.BeginItem(10);
  meter.Advance(15);
  EXPECT_EQ(meter.done(), 10u);
  meter.EndItem();
  meter.BeginItem(10);
  meter.Advance(4);
  EXPECT_EQ(meter.done(), 14u);
}

}  // namespace progress_bar
