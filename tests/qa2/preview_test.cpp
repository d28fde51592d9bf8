// qa2 preview: the updater's own run on the overlay, against small
// installations built here; each outcome a file line can carry, the waits,
// and a folder on disk that never changes.
#include "tools/qa2/patch_plan.h"
#include "tools/qa2/preview.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tests/support/archive_image.h"
#include "tests/support/folder_snapshot.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using qa2::PreviewFile;
using qa2::PreviewReport;

constexpr uint64_t kOld = 0x01D0000000000000ULL;     // 2015: older than any file made here
constexpr uint64_t kFuture = 0x0200000000000000ULL;  // 2137: later than any
constexpr char kSetupIni[] =
    "[SETUP]\r\nCompanyName=TAVRIN\r\nGameTitle=T\r\nGameDir=HOSHI\r\nGameExe=GAME.EXE\r\n"
    "UninstExe=UNINST.EXE\r\nSetupBmp=A.BMP\r\nInstallSelects=1\r\nInstallTitle0=STD\r\n"
    "InstallFiles0=GAME.EXE\r\nShortcuts=0\r\nGameClass=GAMECLASS\r\nDiskCheckFile1=DISC1.CHK\r\n";

using test_support::Snapshot;

class PreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::u8path(folder.path());
    fs::create_directories(root / "inst");
    fs::create_directories(root / "disc");
    Put("inst/SETUP.INI", kSetupIni);
    options.install = (root / "inst").u8string();
  }
  void TearDown() override {
    EXPECT_EQ(Snapshot(root), before) << "a preview changed the folder on disk";
    for (const auto& e : fs::recursive_directory_iterator(root))
      fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
  }
  void Put(const std::string& relative, const std::string& content, bool readOnly = false) {
    fs::path path = root / fs::u8path(relative);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    if (readOnly) fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove);
  }
  void Member(const std::string& name, const std::string& content, uint64_t time = kOld) {
    members.push_back(StoredMember(name, content, time));
  }
  // Runs the preview with UPDATE.INI's [UPDATE] section `update`.
  PreviewReport Run(const std::string& update) {
    std::vector<TestMember> all = members;
    all.push_back(LiteralMember("UPDATE.INI",
                                "[SETUP]\r\nCompanyName=TAVRIN\r\nGameTitle=T\r\nGameClass=X\r\n"
                                "GameDir=HOSHI\r\n[UPDATE]\r\n" + update));
    before = Snapshot(root);
    return qa2::RunPreview(options, LayOutArchive(all, true));
  }
  static std::string Actions(const PreviewReport& r) {
    std::string out;
    for (const PreviewFile& f : r.files)
      out += f.entry + " " + f.action + (f.writes ? " writes" : "") + "\n";
    return out;
  }
  static const PreviewFile& File(const PreviewReport& r, const std::string& entry) {
    for (const PreviewFile& f : r.files)
      if (f.entry == entry) return f;
    static PreviewFile none;
    ADD_FAILURE() << "no line for " << entry;
    return none;
  }
  std::string Local(const std::string& relative) const {
    return (root / fs::u8path(relative)).make_preferred().u8string();
  }

  TempFolder folder;
  fs::path root;
  qa2::PreviewOptions options;
  std::vector<TestMember> members;
  std::map<std::string, std::string> before;
};

TEST_F(PreviewTest, ACompletedRunReportsEveryKindOfDecision) {
  Put("inst/OLD.DAT", "installed, later", true);
  Put("inst/OLD2.DAT", "installed, later");
  Put("inst/OLD3.DAT", "installed, earlier");
  Put("inst/SAVE.DAT", "the player's save");
  Put("inst/LOCKSAVE.DAT", "a read-only save", true);
  Put("disc/DISC1.CHK", "");
  Put("disc/MOVIE/M.MPG", "movie");
  Member("NEW.DAT", "new");
  Member("OLD.DAT", "replaces a later file");
  Member("OLD2.DAT", "kept out");
  Member("OLD3.DAT", "replaces an earlier file", kFuture);
  Member("SAVE.DAT", "default save");
  Member("LOCKSAVE.DAT", "default save");
  Member("ABSENT.DAT", "never");
  Member("MODE1.DAT", "mode 1");
  options.cdroms['Q'] = (root / "disc").u8string();
  PreviewReport r = Run(
      "UpdateFile00=NEW.DAT\r\nUpdateFile01=OLD.DAT\r\nUpdateFile02=u,OLD2.DAT\r\n"
      "UpdateFile03=u,OLD3.DAT\r\nUpdateFile04=d,SAVE.DAT\r\nUpdateFile05=d,LOCKSAVE.DAT\r\n"
      "UpdateFile06=o,ABSENT.DAT\r\nUpdateFile07=1,MODE1.DAT\r\nCopyFile00=1:MOVIE\\M.MPG\r\n"
      "CopyFile01=1,1:MOVIE\r\n");
  EXPECT_EQ(Actions(r),
            "UpdateFile00 new writes\n"
            "UpdateFile01 replace-newer writes\n"
            "UpdateFile02 keep-newer\n"
            "UpdateFile03 replace writes\n"
            "UpdateFile04 rewrite writes\n"
            "UpdateFile05 keep\n"
            "UpdateFile06 skip-absent\n"
            "UpdateFile07 other-mode\n"
            "CopyFile00 new writes\n"
            "CopyFile01 other-mode\n");
  ASSERT_TRUE(r.exitCode);
  EXPECT_EQ(*r.exitCode, 1);
  EXPECT_EQ(r.registryKey, "HKEY_CURRENT_USER\\Software\\TAVRIN\\HOSHI");
  EXPECT_EQ(r.instPath, "C:\\Games\\HOSHI");
  EXPECT_EQ(File(r, "UpdateFile00").path, Local("inst/NEW.DAT"));
  EXPECT_EQ(File(r, "CopyFile00").path, Local("inst/MOVIE/M.MPG"));
  EXPECT_EQ(File(r, "CopyFile00").from, "Q:\\MOVIE\\M.MPG");
  EXPECT_EQ(r.bytesWritten, std::string("new" "replaces a later file" "replaces an earlier file"
                                        "the player's save" "movie").size());
  // The read-only attribute is cleared before the replacement.
  ASSERT_FALSE(r.attributes.empty());
  EXPECT_EQ(r.attributes[0].path, Local("inst/OLD.DAT"));
  ASSERT_GE(r.messages.size(), 3u);
  EXPECT_EQ(r.messages[0].text, "「T」のアップデートを開始します");
  EXPECT_EQ(r.messages.back().text, "アップデートは完了しました");
}

TEST_F(PreviewTest, AFailedWriteStopsTheRestFromBeingReached) {
  Member("X.DAT", "x");
  Member("A.DAT", "a");
  PreviewReport r = Run("UpdateFile00=SUB\\X.DAT\r\nUpdateFile01=A.DAT\r\nCopyFile00=1:M.MPG\r\n");
  EXPECT_EQ(Actions(r), "UpdateFile00 fail\nUpdateFile01 not-reached\nCopyFile00 not-reached\n");
  EXPECT_NE(File(r, "UpdateFile00").why.find("does not exist"), std::string::npos);
  ASSERT_TRUE(r.exitCode);
  EXPECT_EQ(*r.exitCode, 0);
  ASSERT_GE(r.messages.size(), 2u);
  EXPECT_EQ(r.messages[r.messages.size() - 2].text, "ファイルの書き込みに失敗しました");
  EXPECT_EQ(r.messages.back().text, "アップデートが中断されました");
}

TEST_F(PreviewTest, TargetsPastTheUpdatersPathLimitFail) {
  // SETUP.INI still fits the 258 bytes a join makes; the member's name does not.
  options.instPath = "C:\\" + std::string(245, 'G');
  Member("ABCDEFGHIJ.DAT", "x");
  PreviewReport r = Run("UpdateFile00=ABCDEFGHIJ.DAT\r\n");
  EXPECT_EQ(Actions(r), "UpdateFile00 fail\n");
  EXPECT_NE(File(r, "UpdateFile00").why.find("259"), std::string::npos);
}

TEST_F(PreviewTest, MissingMembersAndDiscFilesStopTheRun) {
  Put("disc/DISC1.CHK", "");
  options.cdroms['q'] = (root / "disc").u8string();
  PreviewReport missing = Run("UpdateFile00=NOPE.DAT\r\n");
  EXPECT_EQ(Actions(missing), "UpdateFile00 member-missing\n");
  EXPECT_EQ(*missing.exitCode, 0);
  PreviewReport gone = Run("CopyFile00=1:GONE.MPG\r\nCopyFile01=1:MORE.MPG\r\n");
  EXPECT_EQ(Actions(gone), "CopyFile00 disc-missing\nCopyFile01 not-reached\n");
  EXPECT_EQ(*gone.exitCode, 0);
}

TEST_F(PreviewTest, WaitsForThePlayerHaveNoExitCode) {
  Member("A.DAT", "a");
  PreviewReport disc = Run("UpdateFile00=A.DAT\r\nCopyFile00=1:M.MPG\r\n");
  EXPECT_EQ(Actions(disc), "UpdateFile00 new writes\nCopyFile00 wait-disc\n");
  EXPECT_FALSE(disc.exitCode);
  EXPECT_EQ(disc.waits, "disc");
  EXPECT_EQ(disc.messages.back().text, "ＣＤ－ＲＯＭドライブに「T」ディスク 1 を入れて下さい");

  options.freeBytes = 10;
  PreviewReport space = Run("RequiredDiskSpace=11\r\nUpdateFile00=A.DAT\r\n");
  EXPECT_FALSE(space.exitCode);
  EXPECT_EQ(space.waits, "space");
  EXPECT_EQ(space.messages.back().text, "ディスク容量が足りません。\rC: ドライブに 1 バイトの空き容量が必要です");
  EXPECT_EQ(space.files.empty(), true);  // the entries are read only after the check
  EXPECT_EQ(*space.requiredDiskSpace, 11u);
  EXPECT_EQ(space.freeBytes, 10u);
}

TEST_F(PreviewTest, RoomAnEarlierWriteFreesCountsForALaterOne) {
  Put("inst/BIG.DAT", std::string(100, 'o'));
  Member("BIG.DAT", "b");
  Member("NEW.DAT", std::string(20, 'n'));
  options.freeBytes = 10;
  PreviewReport r = Run("UpdateFile00=BIG.DAT\r\nUpdateFile01=NEW.DAT\r\n");
  EXPECT_EQ(Actions(r), "UpdateFile00 replace-newer writes\nUpdateFile01 new writes\n");
}

TEST_F(PreviewTest, StartUpChecksShowTheirBoxes) {
  fs::remove(root / "inst" / "SETUP.INI");
  PreviewReport r = Run("UpdateFile00=A.DAT\r\n");
  ASSERT_TRUE(r.exitCode);
  EXPECT_EQ(*r.exitCode, 0);
  EXPECT_TRUE(r.files.empty());
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].kind, "box");
  EXPECT_EQ(r.messages[0].text, "インストール先に \"SETUP.INI\" ファイルが見つかりません");

  PreviewReport none = qa2::RunPreview(options, {});  // an updater without its archive
  ASSERT_EQ(none.messages.size(), 1u);
  EXPECT_EQ(none.messages[0].text, "UPDATE.QA2 not found");
  EXPECT_EQ(none.registryKey, "");
}

TEST_F(PreviewTest, JsonKeepsItsKeyNames) {
  Member("A.DAT", "a");
  PreviewReport r = Run("UpdateFile00=A.DAT\r\nUpdateFile01=1,B.DAT\r\n");
  const std::string json = qa2::FormatPreviewJson(r);
  const std::string head = "{\n  \"exit_code\": 1,";
  EXPECT_EQ(json.compare(0, head.size(), head), 0) << json;
  std::string path = Local("inst/A.DAT"), escaped;
  for (char c : path) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_NE(json.find("{\"path\": \"" + escaped + "\", \"writes\": true, \"action\": \"new\""), std::string::npos)
      << json;
  EXPECT_NE(json.find("\"writes\": false, \"action\": \"other-mode\""), std::string::npos);
  EXPECT_NE(json.find("\"target\": \"C:\\\\Games\\\\HOSHI\\\\A.DAT\""), std::string::npos);
  r.exitCode.reset();
  EXPECT_NE(qa2::FormatPreviewJson(r).find("\"exit_code\": null"), std::string::npos);
}

TEST_F(PreviewTest, AFolderPreviewsAsTheUpdaterBuiltFromIt) {
  Put("update/UPDATE.INI",
      "[SETUP]\r\nCompanyName=TAVRIN\r\nGameTitle=T\r\nGameClass=X\r\nGameDir=HOSHI\r\n"
      "[UPDATE]\r\nUpdateFile00=a.dat\r\n");
  Put("update/A.DAT", "from the folder");
  qa2::FolderArchive archive;
  ASSERT_EQ(archive.Build("preview", (root / "update").u8string(), qa2::PatchPlanOptions(), false), 0);
  before = Snapshot(root);
  PreviewReport r = qa2::RunPreview(options, archive.data(), archive.size());
  EXPECT_EQ(Actions(r), "UpdateFile00 new writes\n");
  EXPECT_EQ(File(r, "UpdateFile00").path, Local("inst/a.dat"));  // named as the entry writes it
  EXPECT_EQ(r.bytesWritten, 15u);
}

}  // namespace

namespace setup_ini_reads {

// The getters read an INI file whole, whatever its size; a required key that
// is missing ends start-up without a message, and the preview names it.
TEST_F(PreviewTest, SetupIniOfAnySizeIsReadAndASilentEndNamesItsKey) {
  const std::string padding = "; " + std::string(1200000, '-') + "\r\n";
  Put("inst/SETUP.INI", padding + kSetupIni);
  Member("A.DAT", "new");
  PreviewReport r = Run("UpdateFile00=A.DAT\r\n");
  EXPECT_EQ(r.silentEnd, "");
  EXPECT_EQ(Actions(r), "UpdateFile00 new writes\n");

  std::string withoutExe = kSetupIni;
  withoutExe.replace(withoutExe.find("GameExe=GAME.EXE\r\n"), 18, "");
  Put("inst/SETUP.INI", padding + withoutExe);
  r = Run("UpdateFile00=A.DAT\r\n");
  ASSERT_TRUE(r.exitCode);
  EXPECT_EQ(*r.exitCode, 0);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(r.silentEnd, "start-up ends without a message after reading SETUP.INI [SETUP] GameExe, which is missing or empty");
}

}  // namespace setup_ini_reads

namespace disc_copies {

// An installation on the disc's own drive: the folder copy would land inside
// itself, which Windows refuses before copying anything.
TEST_F(PreviewTest, FolderCopiedIntoItselfIsRefusedAndNothingIsCopied) {
  Put("disc/DISC1.CHK", "");
  Put("disc/EXTRAS/E.TXT", "e");
  options.cdroms['Q'] = (root / "disc").u8string();
  options.instPath = "Q:\\EXTRAS";
  PreviewReport r = Run("CopyFile00=1:EXTRAS\r\n");
  ASSERT_TRUE(r.exitCode);
  EXPECT_EQ(*r.exitCode, 0);
  EXPECT_EQ(r.messages.back().text, "アップデートが中断されました");
  EXPECT_EQ(r.messages[r.messages.size() - 2].text, "SETUP.INI : \"EXTRAS\" のコピーに失敗しました");
  for (const PreviewFile& f : r.files) EXPECT_FALSE(f.writes) << f.target;
}

// A data folder on the disc's drive, copied whole into the installation:
// the copy is named as the disc names it, not as the local folder is.
TEST_F(PreviewTest, FolderCopiedFromAGivenRootKeepsTheDiscsName) {
  Put("disc/DISC1.CHK", "");
  Put("save-here/S.DAT", "s");
  options.cdroms['Q'] = (root / "disc").u8string();
  options.data = (root / "save-here").u8string();
  options.dataPath = "Q:\\SAVE";
  PreviewReport r = Run("CopyFile00=1:SAVE\r\n");
  ASSERT_EQ(r.files.size(), 1u);
  EXPECT_EQ(r.files[0].target, "C:\\Games\\HOSHI\\SAVE\\S.DAT");
}

}  // namespace disc_copies

namespace version_gate {

std::string Noise(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char((seed = seed * 1103515245u + 12345u) >> 16);
  return s;
}

// An update built against two versions, previewed on each kind of
// installation the version gate tells apart.
TEST_F(PreviewTest, TheVersionGateTellsEachInstalledVersionApart) {
  const std::string v1 = Noise(20000, 1), v2 = v1.substr(0, 9000) + "v2" + v1.substr(9002);
  const std::string now = v1.substr(0, 15000) + "new" + v1.substr(15003);
  const std::string data1 = Noise(30000, 2), dataNow = data1.substr(0, 100) + "x" + data1.substr(101);
  Put("update/UPDATE.INI",
      "[SETUP]\r\nCompanyName=TAVRIN\r\nGameTitle=T\r\nGameClass=X\r\nGameDir=HOSHI\r\n"
      "[UPDATE]\r\nUpdateFile00=GAME.EXE\r\nUpdateFile01=u,DATA.PAK\r\nUpdateFile02=README.TXT\r\n"
      "UpdateFile03=EXTRA.DAT\r\n");
  // EXTRA.DAT: only version 2 has it, so it travels whole and as a patch.
  const std::string extra = Noise(20000, 3);
  Put("update/EXTRA.DAT", extra);
  Put("v2/EXTRA.DAT", extra.substr(0, 500) + "2" + extra.substr(501));
  Put("update/GAME.EXE", now);
  Put("update/DATA.PAK", dataNow);
  Put("update/README.TXT", "read me");
  Put("v1/GAME.EXE", v1);
  Put("v1/DATA.PAK", data1);
  Put("v2/game.exe", v2);
  Put("v2/DATA.PAK", data1);
  qa2::PatchPlanOptions patches;
  patches.bases = {(root / "v1").u8string(), (root / "v2").u8string()};
  qa2::FolderArchive archive;
  ASSERT_EQ(archive.Build("preview", (root / "update").u8string(), patches, true), 0);
  enum Age { Older, Same, Later };
  auto preview = [&](const std::string& game, const std::string* data, Age dataAge = Older) {
    fs::remove(root / "inst/GAME.EXE");
    fs::remove(root / "inst/DATA.PAK");
    Put("inst/GAME.EXE", game);
    if (data) {
      Put("inst/DATA.PAK", *data);
      const auto year = std::chrono::hours(24 * 365);
      fs::last_write_time(root / "inst/DATA.PAK", dataAge == Same ? fs::last_write_time(root / "update/DATA.PAK")
                                                  : fs::file_time_type::clock::now() + (dataAge == Later ? year : -5 * year));
    }
    before = Snapshot(root);
    return qa2::RunPreview(options, archive.data(), archive.size());
  };
  // A gated member carried whole as well is written whole where it is absent.
  const std::string rest = "UpdateFile02 new writes\nUpdateFile03 new writes\n";
  PreviewReport r = preview(v2, &data1);
  EXPECT_EQ(Actions(r), "UpdateFile00 patch writes\nUpdateFile01 patch writes\n" + rest);
  EXPECT_EQ(r.bytesWritten, now.size() + dataNow.size() + 7 + extra.size());
  r = preview(now, &dataNow);
  EXPECT_EQ(Actions(r), "UpdateFile00 already-new\nUpdateFile01 already-new\n" + rest);
  r = preview(v1, &data1, Later);  // a u target later than the member is left
  EXPECT_EQ(Actions(r), "UpdateFile00 patch writes\nUpdateFile01 keep-newer\n" + rest);
  r = preview(v1, &data1, Same);  // one of the member's own time is not later
  EXPECT_EQ(Actions(r), "UpdateFile00 patch writes\nUpdateFile01 patch writes\n" + rest);
  // A third version, or a file only a patch could make: nothing is written.
  for (const std::string* data : {&data1, static_cast<const std::string*>(nullptr)}) {
    r = preview(data ? Noise(20000, 9) : v1, data);
    const std::string refused = data ? "GAME.EXE" : "DATA.PAK";
    ASSERT_TRUE(r.exitCode);
    EXPECT_EQ(*r.exitCode, 0);
    EXPECT_EQ(r.bytesWritten, 0u);
    ASSERT_GE(r.messages.size(), 2u);
    EXPECT_EQ(r.messages[r.messages.size() - 2].text, refused + " はこのアップデートに対応していないバージョンです");
    EXPECT_EQ(r.messages.back().text, "アップデートが中断されました");
    EXPECT_NE(Actions(r).find(data ? "UpdateFile00 wrong-version" : "UpdateFile01 wrong-version"), std::string::npos)
        << Actions(r);
  }

  // --gate: README.TXT travels whole (no patch pays), yet only the versions
  // the bases hold, or the new one, are written over.
  Put("v1/README.TXT", "read me 1");
  patches.gate = true;
  qa2::FolderArchive gated;
  ASSERT_EQ(gated.Build("preview", (root / "update").u8string(), patches, true), 0);
  Put("inst/README.TXT", "read me 1");
  Put("inst/DATA.PAK", data1);
  before = Snapshot(root);
  r = qa2::RunPreview(options, gated.data(), gated.size());
  EXPECT_NE(Actions(r).find("UpdateFile02 replace"), std::string::npos) << Actions(r);
  Put("inst/README.TXT", "read me 0");
  before = Snapshot(root);
  r = qa2::RunPreview(options, gated.data(), gated.size());
  EXPECT_NE(Actions(r).find("UpdateFile02 wrong-version"), std::string::npos) << Actions(r);
}

}  // namespace version_gate
