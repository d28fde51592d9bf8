// What an interrupted run leaves, and what the next run does about it; the
// dialog answered during long writes; every single failing file operation
// over a whole update.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/fileops.h"
#include "tests/updater/updater_world.h"
#include "updater/messages.h"

namespace {

constexpr uint64_t kMemberTime = 0x01D0000000000000ULL;

intptr_t RunWith(UpdaterWorld& world, const std::string& updateSection) {
  world.SetUpdateIni("[UPDATE]\r\n" + updateSection);
  return world.RunDialog({kButtonNext, kButtonNext});
}

bool Completed(const UpdaterWorld& world) {
  const platform::HostDialog& d = world.os.lastDialog();
  return !d.ended && d.Text(kInfoTextId) == kMsgCompleted;
}

std::vector<std::string> FilesIn(const UpdaterWorld& world, const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(world.Host(folder)))
    if (e.is_regular_file()) names.push_back(e.path().lexically_relative(world.Host(folder)));
  std::sort(names.begin(), names.end());
  return names;
}

TEST(LeftoversTest, FilesOfGoneRunsBesideTargetsGoWhateverBecomesOfTheItem) {
  UpdaterWorld world;
  world.os.processAlive = [](uint32_t pid) { return pid == 0x64; };
  world.SetArchive({LiteralMember("A.DAT", "new A", kMemberTime),
                    StoredMember("B.DAT", "new B", kMemberTime),
                    StoredMember("SAVE.DAT", "default", kMemberTime)});
  world.Put("GAME/A.DAT", "old A");
  world.SetWriteTime("C:\\GAME\\B.DAT", "later B", kMemberTime + 1);  // left alone
  world.Put("SAVE/SAVE.DAT", "player's");
  world.Put("GAME/[1].DAT.~63.tmp", "leftover");  // brackets are no wildcards
  const std::vector<std::string> gone = {"GAME/A.DAT.~63.tmp", "GAME/a.dat.~FFFFFFFF.tmp",
                                         "GAME/B.DAT.~63.tmp", "SAVE/SAVE.DAT.~63.tmp",
                                         "GAME/NONE.DAT.~63.tmp"};
  const std::vector<std::string> kept = {"GAME/A.DAT.~64.tmp", "GAME/A.DAT.~6g.tmp",
                                         "GAME/A.DAT.~63.tmp.x", "GAME/A.DAT.~.tmp",
                                         "GAME/A.DAT.~123456789.tmp", "GAME/AA.DAT.~63.tmp"};
  for (const auto& f : gone) world.Put(f, "leftover");
  for (const auto& f : kept) world.Put(f, "leftover");
  RunWith(world, "UpdateFile00=A.DAT\r\nUpdateFile01=u,B.DAT\r\nUpdateFile02=d,SAVE.DAT\r\n"
                 "UpdateFile03=o,NONE.DAT\r\nUpdateFile04=o,[1].DAT\r\n");
  EXPECT_FALSE(world.Exists("GAME/[1].DAT.~63.tmp"));
  EXPECT_TRUE(Completed(world));
  for (const auto& f : gone) EXPECT_FALSE(world.Exists(f)) << f;
  for (const auto& f : kept) EXPECT_TRUE(world.Exists(f)) << f;
  EXPECT_EQ(world.Get("GAME/A.DAT"), "new A");
  EXPECT_EQ(world.Get("GAME/B.DAT"), "later B");
}

TEST(LeftoversTest, OwnProcessAndUnknownOnesCountAsAlive) {
  UpdaterWorld world;
  EXPECT_FALSE(ProcessIsGone(world.os.ProcessId()));
  EXPECT_TRUE(ProcessIsGone(world.os.ProcessId() + 1));
  world.os.processAlive = [](uint32_t) { return true; };
  EXPECT_FALSE(ProcessIsGone(5));
  uint32_t pid = 0;
  EXPECT_TRUE(ParseHexProcessId("fFfF0001", 8, &pid));
  EXPECT_EQ(pid, 0xFFFF0001u);
  EXPECT_FALSE(ParseHexProcessId("", 0, &pid));
  EXPECT_FALSE(ParseHexProcessId("-1", 2, &pid));
  EXPECT_FALSE(ParseHexProcessId("0x1", 3, &pid));
}

TEST(LeftoversTest, AReplacementNeverReplacedLeavesNothingBeside) {
  UpdaterWorld world;
  world.Put("GAME/A.DAT", "old");
  {
    auto file = world.os.BeginReplacement("C:\\GAME\\A.DAT");
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Write("new content", 11));
    EXPECT_TRUE(world.Exists("GAME/A.DAT.~1092.tmp"));
  }
  EXPECT_EQ(FilesIn(world, "GAME"), std::vector<std::string>{"A.DAT"});
  EXPECT_EQ(world.Get("GAME/A.DAT"), "old");
}

// --- the dialog during long writes

TEST(PumpTest, MessagesAreHandledBetweenPiecesAndTheBusyDialogIgnoresButtons) {
  UpdaterWorld world;
  const std::string big(5 * kFileChunk + 123, 'b');
  const std::string large(3 * kFileChunk, 'l');
  world.SetArchive({StoredMember("BIG.DAT", big, kMemberTime),
                    LiteralMember("LARGE.DAT", large, kMemberTime)});
  world.Put("SAVE/SAVE.DAT", std::string(2 * kFileChunk + 5, 's'));
  int pressesWhileBusy = 0;
  world.os.onPump = [&] {
    platform::HostDialog* d = world.os.dialog();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(world.os.cursor(), platform::Cursor::Wait);
    // A player clicking about meanwhile changes nothing.
    d->Press(kButtonAbort);
    d->Press(kButtonNext);
    d->Press(kButtonBack);
    ++pressesWhileBusy;
  };
  RunWith(world, "UpdateFile00=BIG.DAT\r\nUpdateFile01=LARGE.DAT\r\nUpdateFile02=d,SAVE.DAT\r\n");
  EXPECT_TRUE(Completed(world));
  EXPECT_TRUE(world.os.boxes().empty());
  // At least once per piece: 6 + 3 + 3, and once per item.
  EXPECT_GE(pressesWhileBusy, 12 + 3);
  EXPECT_TRUE(world.Get("GAME/BIG.DAT") == big);
  EXPECT_TRUE(world.Get("GAME/LARGE.DAT") == large);
  EXPECT_EQ(world.Get("SAVE/SAVE.DAT").size(), 2 * kFileChunk + 5);
}

// --- one failing file operation, for every operation of an update

struct Target {
  std::string file;     // below C:, as the world names it
  const char* old;      // nullptr: absent before the update
  std::string updated;  // its content after a complete update (empty: absent)
  bool failureIgnored;  // a failed write of it does not stop the update
};

TEST(FaultSweepTest, EveryTargetIsOldOrNewAndTheOutcomeFollowsTheFailure) {
  const std::string big(kFileChunk + 77, 'B');
  const std::vector<Target> targets = {
      {"GAME/A.DAT", "old A", "new A", false},
      {"GAME/NEW.DAT", nullptr, "new N", false},
      {"GAME/B.DAT", "old B", "new B", false},            // u, older: written
      {"GAME/C.DAT", "later C", "later C", false},        // u, newer: left
      {"SAVE/SAVE.DAT", "player's", "player's", true},    // d, rewritten
      {"SAVE/FRESH.DAT", nullptr, "default", false},      // d, absent: extracted
      {"GAME/O.DAT", "old O", "new O", false},            // o, present
      {"GAME/NONE.DAT", nullptr, "", false},              // o, absent: skipped
      {"GAME/RO.DAT", "old RO", "new RO", false},         // read-only before
      {"GAME/SUB/S.DAT", "old S", "new S", false},
      {"GAME/BIG.DAT", "old big", big, false},            // several pieces
  };
  const std::string section =
      "UpdateFile00=A.DAT\r\nUpdateFile01=NEW.DAT\r\nUpdateFile02=u,B.DAT\r\n"
      "UpdateFile03=u,C.DAT\r\nUpdateFile04=d,SAVE.DAT\r\nUpdateFile05=d,FRESH.DAT\r\n"
      "UpdateFile06=o,O.DAT\r\nUpdateFile07=o,NONE.DAT\r\nUpdateFile08=RO.DAT\r\n"
      "UpdateFile09=SUB\\S.DAT\r\nUpdateFile10=BIG.DAT\r\n";
  auto windowsPath = [](const std::string& file) {
    std::string p = "C:\\" + file;
    for (char& c : p) if (c == '/') c = '\\';
    return p;
  };

  int n = 1;
  for (;; ++n) {
    UpdaterWorld world;
    world.SetArchive({LiteralMember("A.DAT", "new A", kMemberTime),
                      StoredMember("NEW.DAT", "new N", kMemberTime),
                      LiteralMember("B.DAT", "new B", kMemberTime),
                      StoredMember("C.DAT", "new C", kMemberTime),
                      StoredMember("SAVE.DAT", "default", kMemberTime),
                      StoredMember("FRESH.DAT", "default", kMemberTime),
                      LiteralMember("O.DAT", "new O", kMemberTime),
                      StoredMember("NONE.DAT", "new none", kMemberTime),
                      StoredMember("RO.DAT", "new RO", kMemberTime),
                      LiteralMember("S.DAT", "new S", kMemberTime),
                      LiteralMember("BIG.DAT", big, kMemberTime)});
    world.MakeFolder("GAME/SUB");
    for (const Target& t : targets)
      if (t.old) world.Put(t.file, t.old);
    world.SetWriteTime("C:\\GAME\\B.DAT", "old B", kMemberTime - 1);
    world.SetWriteTime("C:\\GAME\\C.DAT", "later C", kMemberTime + 1);
    world.os.SetFileAttributes("C:\\GAME\\RO.DAT", platform::kAttrReadOnly);
    world.os.FailFileOperationNumber(n);
    RunWith(world, section);

    std::string failed;  // "kind path" of the operation that failed
    for (const std::string& op : world.os.fileOperations())
      if (op[0] == '!') failed = op.substr(1);
    const std::string where = "operation " + std::to_string(n) + " (" + failed + ")";
    if (failed.empty()) {
      ASSERT_TRUE(Completed(world)) << where;
      for (const Target& t : targets)
        EXPECT_EQ(world.Exists(t.file) ? world.Get(t.file) : "", t.updated) << t.file;
      break;
    }

    // Which target the failure belongs to, and whether it stops the update:
    // a failed rewrite of the player's file is ignored; a failed read of it,
    // or of a target whose time decides, means the member is written.
    const std::string kind = failed.substr(0, failed.find(' '));
    const std::string path = failed.substr(failed.find(' ') + 1);
    size_t at = targets.size();
    for (size_t i = 0; i < targets.size(); ++i)
      if (windowsPath(targets[i].file) == path) at = i;
    ASSERT_LT(at, targets.size()) << where;
    const bool reading = kind == "open" || kind == "read";
    const bool stops = !reading && !targets[at].failureIgnored;
    EXPECT_EQ(Completed(world), !stops) << where;
    if (stops) {
      EXPECT_EQ(world.os.lastDialog().endCode, -1) << where;
      ASSERT_EQ(world.os.boxes().size(), 1u) << where;
      EXPECT_EQ(world.os.boxes()[0].text, kMsgWriteFailed) << where;
    } else {
      EXPECT_TRUE(world.os.boxes().empty()) << where;
    }

    for (size_t i = 0; i < targets.size(); ++i) {
      const Target& t = targets[i];
      std::string now = world.Exists(t.file) ? world.Get(t.file) : "";
      std::string before = t.old ? t.old : "";
      // A failed read of the player's file falls back to the member.
      std::string after = t.updated;
      if (i == at && reading && t.failureIgnored) after = "default";
      if (i == at && reading && t.file == "GAME/C.DAT") after = "new C";
      EXPECT_TRUE(now == before || now == after) << where << ": " << t.file << " holds " << now;
      if (stops && i > at) EXPECT_EQ(now, before) << where << ": " << t.file << " after the failure";
      if (!stops || i < at) EXPECT_EQ(now, after) << where << ": " << t.file;
    }
    // Nothing is left beside any target.
    for (const std::string& f : FilesIn(world, "GAME"))
      EXPECT_EQ(f.find(".tmp"), std::string::npos) << where << ": " << f;
    for (const std::string& f : FilesIn(world, "SAVE"))
      EXPECT_EQ(f.find(".tmp"), std::string::npos) << where << ": " << f;
  }
  // Every item performs several operations; a sweep that ends early has
  // failed to reach the update.
  EXPECT_GT(n, 40);
  std::printf("failed each of %d file operations in turn\n", n - 1);
}

}  // namespace
