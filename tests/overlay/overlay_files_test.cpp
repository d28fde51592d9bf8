// The preview's file overlay over a real folder: Windows lookups, writes that
// stay in memory, and a folder on disk that never changes.
#include "platform/overlay/overlay_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tests/support/folder_snapshot.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using platform::OverlayFiles;

// ソフト表.BIN in code page 932: both 0x5C bytes are second bytes.
const std::string kJapaneseName = "\x83\x5C\x83\x74\x83\x67\x95\x5C.BIN";
const std::string kJapaneseUtf8 = "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88\xE8\xA1\xA8.BIN";

void Put(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

using test_support::Snapshot;

std::string ReadAll(OverlayFiles& files, const std::string& path) {
  std::string content;
  EXPECT_TRUE(files.ReadWhole(path, &content)) << path;
  return content;
}

class OverlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::u8path(folder.path());
    Put(root / "inst" / "Game.exe", "game 1");
    Put(root / "inst" / "Sub" / fs::u8path(kJapaneseUtf8), "japanese");
    Put(root / "inst" / "LOCKED.DAT", "locked");
    fs::permissions(root / "inst" / "LOCKED.DAT", fs::perms::owner_write | fs::perms::group_write |
                                                     fs::perms::others_write, fs::perm_options::remove);
    Put(root / "disc" / "DISC1.CHK", "");
    Put(root / "disc" / "Extras" / "A.TXT", "a");
    Put(root / "disc" / "Extras" / "Deep" / "B.TXT", "b");
    files.Mount("C:\\Games\\HOSHI", (root / "inst").u8string());
    files.Mount("Q:", (root / "disc").u8string());
    files.AddVirtualFolder("C:\\Temp");
    before = Snapshot(root);
  }
  void TearDown() override {
    EXPECT_EQ(Snapshot(root), before) << "the folder on disk changed";
    fs::permissions(root / "inst" / "LOCKED.DAT", fs::perms::owner_write, fs::perm_options::add);
  }

  TempFolder folder;
  fs::path root;
  OverlayFiles files;
  std::map<std::string, std::string> before;
};

TEST_F(OverlayTest, NamesAreFoundWithoutRegardToCaseAndInCodePage932) {
  EXPECT_EQ(ReadAll(files, "c:\\games\\hoshi\\GAME.EXE"), "game 1");
  EXPECT_EQ(ReadAll(files, "C:\\Games\\HOSHI\\sub\\" + kJapaneseName), "japanese");
  EXPECT_EQ(files.GetFileAttributes("C:\\GAMES\\HOSHI\\SUB"), platform::kAttrDirectory);
  // A trailing separator names a folder: a file is not found so (as Windows
  // answers; the name stage holds the overlay against it).
  EXPECT_EQ(files.GetFileAttributes("C:\\Games\\HOSHI\\GAME.EXE\\"), platform::kInvalidAttributes);
  EXPECT_EQ(files.GetFileAttributes("C:\\Games\\HOSHI\\GAME.EXE."), 0x20u);
  // A reserved device name exists wherever it is asked for, and takes no file.
  EXPECT_EQ(files.GetFileAttributes("C:\\Games\\HOSHI\\SUB\\nul.dat"), 0x20u);
  EXPECT_EQ(files.BeginReplacement("C:\\Games\\HOSHI\\NUL.DAT"), nullptr);
  EXPECT_EQ(files.GetFileAttributes("C:\\Games\\HOSHI\\NONE.EXE"), platform::kInvalidAttributes);
  // The name as it is on disk, not as asked for.
  EXPECT_EQ(files.LocalPath("C:\\GAMES\\HOSHI\\game.EXE"), (root / "inst" / "Game.exe").u8string());
  // A new file is named as the program gives it, below the existing folder's own name.
  EXPECT_EQ(files.LocalPath("C:\\GAMES\\HOSHI\\SUB\\new.dat"), (root / "inst" / "Sub" / "new.dat").u8string());
  // Outside every root and every virtual folder nothing exists.
  EXPECT_EQ(files.GetFileAttributes("D:\\GAME.EXE"), platform::kInvalidAttributes);
  EXPECT_EQ(files.LocalPath("D:\\GAME.EXE"), "");
}

TEST_F(OverlayTest, LaterStepsSeeEarlierWrites) {
  uint64_t time = 0x01D0000000000000ULL;
  ASSERT_TRUE(files.CreateDirectory("C:\\Games\\HOSHI\\DATA"));
  EXPECT_FALSE(files.CreateDirectory("C:\\Games\\HOSHI\\DATA"));  // it exists now
  EXPECT_FALSE(files.CreateDirectory("C:\\Games\\HOSHI\\X\\Y"));  // no parent
  auto w = files.BeginReplacement("C:\\Games\\HOSHI\\data\\New.dat");
  ASSERT_TRUE(w);
  ASSERT_TRUE(w->Write("abc", 3) && w->Write("de", 2) && w->Commit(&time));
  EXPECT_EQ(ReadAll(files, "C:\\GAMES\\HOSHI\\DATA\\NEW.DAT"), "abcde");
  auto r = files.OpenForRead("C:\\Games\\HOSHI\\DATA\\new.dat");
  uint64_t got = 0;
  ASSERT_TRUE(r && r->LastWriteTime(&got));
  EXPECT_EQ(got, time);
  // Replacing keeps the name the file has, and a replaced file reads anew.
  auto g = files.BeginReplacement("C:\\Games\\HOSHI\\GAME.EXE");
  ASSERT_TRUE(g && g->Write("game 2", 6) && g->Commit(nullptr));
  EXPECT_EQ(ReadAll(files, "C:\\Games\\HOSHI\\game.exe"), "game 2");
  EXPECT_EQ(files.LocalPath("C:\\Games\\HOSHI\\GAME.EXE"), (root / "inst" / "Game.exe").u8string());
  ASSERT_EQ(files.changes().size(), 3u);  // the folder, two files
  EXPECT_TRUE(files.changes()[2].existed);
  EXPECT_EQ(files.changes()[2].oldSize, 6u);
  EXPECT_EQ(files.Growth('C'), 5);  // one new file of 5 bytes, one of equal size
}

TEST_F(OverlayTest, ReadOnlyStopsAReplacementUntilCleared) {
  const std::string locked = "C:\\Games\\HOSHI\\locked.dat";
  EXPECT_EQ(files.GetFileAttributes(locked) & platform::kAttrReadOnly, platform::kAttrReadOnly);
  EXPECT_FALSE(files.BeginReplacement(locked));
  EXPECT_FALSE(files.DeleteFile(locked));
  EXPECT_FALSE(files.BeginReplacement("C:\\Games\\HOSHI\\SUB"));         // a folder
  EXPECT_FALSE(files.BeginReplacement("C:\\Games\\HOSHI\\NONE\\A.DAT"));  // no folder
  ASSERT_TRUE(files.SetFileAttributes(locked, platform::kAttrNormal));
  EXPECT_EQ(files.GetFileAttributes(locked), platform::kAttrNormal);
  EXPECT_EQ(ReadAll(files, locked), "locked");  // still the file on disk
  auto w = files.BeginReplacement(locked);
  ASSERT_TRUE(w && w->Write("x", 1) && w->Commit(nullptr));
  EXPECT_EQ(ReadAll(files, locked), "x");
}

TEST_F(OverlayTest, DeletedFilesAreGoneFromLookupsAndListings) {
  auto w = files.BeginReplacement("C:\\Games\\HOSHI\\GAME.EXE.~1F.tmp");
  ASSERT_TRUE(w && w->Commit(nullptr));
  std::vector<std::string> names;
  files.FindFiles("C:\\Games\\HOSHI\\game.exe.~*.TMP", &names);
  ASSERT_EQ(names, std::vector<std::string>{"GAME.EXE.~1F.tmp"});
  ASSERT_TRUE(files.DeleteFile("C:\\Games\\HOSHI\\Game.exe.~1f.tmp"));
  ASSERT_TRUE(files.DeleteFile("C:\\Games\\HOSHI\\GAME.EXE"));
  EXPECT_EQ(files.GetFileAttributes("C:\\Games\\HOSHI\\GAME.EXE"), platform::kInvalidAttributes);
  EXPECT_EQ(files.Growth('C'), -6);
  names.clear();
  files.FindFiles("C:\\Games\\HOSHI\\*", &names);
  EXPECT_EQ(names, (std::vector<std::string>{"LOCKED.DAT", "Sub"}));
}

TEST_F(OverlayTest, LargeWritesKeepTheirSizeNotTheirBytes) {
  auto w = files.BeginReplacement("C:\\Temp\\BIG.DAT");
  ASSERT_TRUE(w);
  std::string piece(1 << 20, 'x');
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(w->Write(piece.data(), uint32_t(piece.size())));
  ASSERT_TRUE(w->Commit(nullptr));
  EXPECT_EQ(files.Look("C:\\Temp\\BIG.DAT").size, 8u << 20);
  std::string content;
  EXPECT_FALSE(files.ReadWhole("C:\\Temp\\BIG.DAT", &content));
  auto r = files.OpenForRead("C:\\Temp\\BIG.DAT");
  char buffer[4] = {1, 1, 1, 1};
  uint32_t got = 0;
  ASSERT_TRUE(r && r->Read(buffer, 4, &got));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(files.Growth('C'), 0);  // the virtual temporary folder is on no drive
  // The most it keeps the bytes of.
  auto exact = files.BeginReplacement("C:\\Temp\\EXACT.DAT");
  const std::string kept(OverlayFiles::kKeptContent, 'k');
  ASSERT_TRUE(exact && exact->Write(kept.data(), uint32_t(kept.size())) && exact->Commit(nullptr));
  EXPECT_EQ(ReadAll(files, "C:\\Temp\\EXACT.DAT").size(), kept.size());
}

// ".." stops at the drive's root, as on Windows; and a file's time keeps
// its fraction of a second.
TEST_F(OverlayTest, PathsAndTimesReadAsWindowsReadsThem) {
  EXPECT_EQ(files.Look("C:\\..\\Games\\HOSHI\\GAME.EXE").size, 6u);
  TempFolder other;
  Put(fs::u8path(other.path()) / "T.DAT", "t");
  const fs::path t = fs::u8path(other.path()) / "T.DAT";
  fs::last_write_time(t, std::chrono::floor<std::chrono::seconds>(fs::last_write_time(t)) +
                             std::chrono::milliseconds(500));
  files.Mount("D:", other.path());
  // As the file system keeps it: some keep no fraction at all.
  using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
  const int64_t ticks = std::chrono::duration_cast<Ticks>(fs::last_write_time(t).time_since_epoch()).count();
  EXPECT_EQ(files.Look("D:\\T.DAT").time % 10000000, uint64_t((ticks % 10000000 + 10000000) % 10000000));
}

TEST_F(OverlayTest, CopiesAFolderIntoTheTargetAndAFileToItsName) {
  EXPECT_EQ(files.Copy("Q:\\EXTRAS", "C:\\Games\\HOSHI"), 0);
  EXPECT_EQ(ReadAll(files, "C:\\Games\\HOSHI\\Extras\\Deep\\B.TXT"), "b");
  EXPECT_EQ(files.LocalPath("C:\\Games\\HOSHI\\EXTRAS\\A.TXT"), (root / "inst" / "Extras" / "A.TXT").u8string());
  EXPECT_EQ(files.Copy("Q:\\Extras\\A.TXT", "C:\\Games\\HOSHI\\MOVIE\\X\\A2.TXT"), 0);
  // The folders above a root exist; what is made beside it stays in memory.
  EXPECT_EQ(files.GetFileAttributes("C:\\Games"), platform::kAttrDirectory);
  EXPECT_EQ(files.Copy("Q:\\Extras\\A.TXT", "C:\\Games\\OTHER\\A.TXT"), 0);
  EXPECT_EQ(ReadAll(files, "C:\\Games\\OTHER\\A.TXT"), "a");
  EXPECT_EQ(files.LocalPath("C:\\Games\\OTHER\\A.TXT"), "");
  EXPECT_EQ(ReadAll(files, "C:\\Games\\HOSHI\\MOVIE\\X\\A2.TXT"), "a");
  EXPECT_NE(files.Copy("Q:\\NONE.TXT", "C:\\Games\\HOSHI\\NONE.TXT"), 0);
  int copied = 0;
  for (const auto& c : files.changes()) copied += c.kind == OverlayFiles::Change::Copied;
  EXPECT_EQ(copied, 4);
}

TEST(WildcardTest, MatchesAsFindFirstFileDoesForTheUpdatersPatterns) {
  struct Case {
    const char* pattern;
    std::string name;
    bool match;
  } cases[] = {
      {"UPDATE-*", "UPDATE-1F.INI", true},
      {"UPDATE-*", "update-1f.ini", true},
      {"UPDATE-*", "UPDATE.INI", false},
      {"A.DAT.~*.tmp", "a.dat.~12AB.TMP", true},
      {"A.DAT.~*.tmp", "A.DAT.~12AB.tmp.x", false},
      {"*", "", true},
      {"?.DAT", "\x95\x5C.DAT", true},  // one double-byte character
      {"\x95\x5C*", "\x95\x7C.DAT", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(platform::MatchesWildcard(c.pattern, c.name), c.match) << c.pattern << " / " << c.name;
}

}  // namespace
