#include "tools/qa2/cli.h"

namespace qa2 {

int RunList(const std::vector<std::string>& args);
int RunExtract(const std::vector<std::string>& args);
int RunVerify(const std::vector<std::string>& args);
int RunDecompress(const std::vector<std::string>& args);
int RunPack(const std::vector<std::string>& args);
int RunCompress(const std::vector<std::string>& args);
int RunBuild(const std::vector<std::string>& args);
int RunCheck(const std::vector<std::string>& args);
int RunPreviewCommand(const std::vector<std::string>& args);

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"list", "ARCHIVE",
       "Lists the members in directory order: name, stored or compressed, size,\n"
       "stored size and time (UTC). Names are shown in UTF-8; a byte that is no\n"
       "printable character shows as \\xNN and a backslash as \\\\. Columns are\n"
       "aligned by display width (a full-width character takes two columns).\n"
       "An update built with --base also lists its patch table: per member its new\n"
       "size and, per earlier version, that version's size and the patch member\n"
       "(or the whole member) that makes the new one.",
       RunList},
      {"extract", "ARCHIVE -C DIR [--base DIR]... [NAME...]",
       "Extracts the named members (all when none is named) into DIR, which must\n"
       "exist, with their file times. Names are matched without regard to case;\n"
       "files are written under their UTF-8 names.\n"
       "Nothing is ever written outside DIR: a member whose name is not a plain\n"
       "Windows file name (a folder or drive part, '/', '\\', ':', '.' or '..', a\n"
       "control character, a device name such as CON or COM1, no code page 932\n"
       "form) is refused and named on stderr; the other members are still\n"
       "extracted, and the exit code is 1.\n"
       "--base DIR (repeatable): a folder holding an earlier version (an\n"
       "installation as it lies on disk). The members an update carries only as\n"
       "patches are then made from the files there whose size and SHA-256 match,\n"
       "with the updater's own code, and written under their member names; the\n"
       "patches themselves are not written. A member no file there can be\n"
       "patched from is named on stderr and the exit code is 1.",
       RunExtract},
      {"verify", "ARCHIVE [--base DIR]...",
       "Checks that the archive is well formed and that every member decodes to\n"
       "exactly its size, and that every name can be a Windows file name. Prints\n"
       "each fault, naming the member, on stderr. A member that claims more bytes\n"
       "than its stream can decode to is refused before any memory is sized.\n"
       "The patch table must parse and name only members the archive has; each\n"
       "patch is shown (member, old size, new size). With --base DIR (repeatable,\n"
       "as for extract) each patch whose old version a file there holds is\n"
       "applied and the result checked against the new version's SHA-256.",
       RunVerify},
      {"decompress", "IN OUT --size N",
       "Decodes one raw compressed stream IN into OUT, which must come to exactly\n"
       "N bytes.",
       RunDecompress},
      {"pack", "OUT FILE... [--store NAME]... [--fast] [-j N]",
       "Builds the archive OUT from the FILEs, in the order given. Each member is\n"
       "named by its file's base name, converted from UTF-8 to code page 932, and\n"
       "carries the file's last-write time. A member is compressed when that makes\n"
       "it smaller, else stored; --store NAME (repeatable) keeps member NAME as it\n"
       "is. The directory is compressed. --fast compresses quickly instead of as\n"
       "small as the format allows. -j N (1 to 64) compresses N members at once (by\n"
       "default one per core); the archive is the same for every N.\n"
       "Refused (exit 2): a name longer than 14 bytes in code page 932, without a\n"
       "code page 932 form, with a folder or drive part or not valid on Windows,\n"
       "two names equal without regard to case, an archive beyond 4 GiB - 1.\n"
       "An unreadable FILE gives exit 3. OUT is replaced only once complete.\n"
       "Files are read in pieces; compressed members wait in a temporary file\n"
       "beside OUT (the header needs their sizes first), so memory does not grow\n"
       "with the members but the disk holds them twice for a while.",
       RunPack},
      {"check", "[UPDATE_DIR] [--install DIR [--mode N] [--inst-path WINPATH] [--data DIR] [--base DIR]...]",
       "Checks an update folder as the updater will read it: UPDATE.INI through\n"
       "the updater's own INI reading, list scanner and entry readers, and the\n"
       "files that become the archive's members. Each finding is printed as\n"
       "  UPDATE.INI:LINE: error|warning: ...   or   NAME: error|warning: ...\n"
       "and points to docs/authoring.md. Without findings it prints one line:\n"
       "  UPDATE.INI: ok, N update entries, M copy entries\n"
       "Unknown keys and sections get the known name they are closest to (\"did\n"
       "you mean\"), a misspelt section is named at its own line.\n"
       "Errors (the updater stops, fails part way, or never reads what is written):\n"
       "  a required [SETUP] key (CompanyName, GameTitle, GameClass, GameDir)\n"
       "  missing or empty; no UpdateFile00 and no CopyFile00; an UpdateFileXX or\n"
       "  CopyFileXX after a gap, numbered 16 or above, or not in two digits; an\n"
       "  entry whose member the folder lacks, or with no path; a member name\n"
       "  that no archive member can have (over 14 bytes...); a CopyFileXX disk\n"
       "  outside 0 to 9; a value its field cuts (UpdateFileXX 1023 bytes,\n"
       "  CopyFileXX and [SETUP] names 259) where it names a path or a registry\n"
       "  key, or a path too long for the updater's 259-byte paths; a value that\n"
       "  is not code page 932 (UTF-8 text, a byte-order mark); a ';' after a path\n"
       "  or a name (comments start their line); a RequiredDiskSpace or\n"
       "  OverwriteOnly that is not a plain 32-bit number (with the value the\n"
       "  updater uses: -1 is 4294967295 bytes); a folder file whose\n"
       "  name cannot name a member, or two names equal but for case.\n"
       "Warnings (it works, but is likely not meant): a RequiredDiskSpace below\n"
       "  the bytes the update's entries write for one install mode; a shown text\n"
       "  its field cuts; a path that leaves under 100 bytes for the installation\n"
       "  path; text after an entry's path; a CopyFileXX install mode that is no\n"
       "  digit; a multi-level DataFolder; a key or section given twice or unknown\n"
       "  to the updater; a ';' after a shown text or a number that reads alike;\n"
       "  a folder file that no entry uses; a subfolder (not packed).\n"
       "--install DIR also checks the installation's SETUP.INI in DIR as start-up\n"
       "and the installation description read it (reports as SETUP.INI:LINE:).\n"
       "Errors: no SETUP.INI; a required key missing or empty (CompanyName,\n"
       "  GameTitle, GameDir, GameExe, UninstExe, SetupBmp, InstallSelects,\n"
       "  InstallTitleN, InstallFilesN, Shortcuts, ShortcutN), which ends the\n"
       "  updater without any message; a list the loader refuses (no SetupBmp or\n"
       "  InstallFilesN name, a ShortcutN or ExecApp of one field); InstallSelects\n"
       "  above 3, Shortcuts above 10.\n"
       "Warnings: a value the updater cuts; names past a list's limit or after an\n"
       "  empty item; a number that is not plain; a key never read (numbered past\n"
       "  its count, repeated, unknown, with \"did you mean\"); UTF-8 text.\n"       "With both UPDATE_DIR and --install DIR, the update is checked against the\n"
       "installation (for install mode N, or every mode): errors for a CompanyName\n"
       "  or GameDir that is not the installation's (other than in letter case:\n"
       "  the updater then says the game is not installed), an entry into a\n"
       "  folder the installation lacks (the data folder: --data DIR), a target\n"
       "  longer than 259 bytes joined to --inst-path WINPATH (the path and its\n"
       "  length), and the findings on a SETUP.INI the update writes over the\n"
       "  installation's; a note for an o entry (or any under OverwriteOnly) into\n"
       "  a missing folder, which is skipped. With --base DIR (repeatable, the\n"
       "  earlier versions the update is built against): an error for each\n"
       "  installed target that is neither a base's version nor the new one,\n"
       "  which a patched update refuses.\n"
       "Exit: 0 no errors (warnings allowed), 1 errors, 2 wrong arguments, 3 a\n"
       "folder, UPDATE.INI or SETUP.INI could not be read.",
       RunCheck},
      {"compress", "IN OUT [--fast] [-j N]",
       "Compresses IN into one raw stream OUT, ending with the end code, as small\n"
       "as the format allows (--fast: quickly, somewhat larger). 'qa2 decompress\n"
       "OUT X --size N', N being IN's size, gives IN back. IN is read and OUT\n"
       "written in pieces, in memory that does not grow with IN; -j N (1 to 64)\n"
       "compresses N blocks at once (by default one per core), the stream the\n"
       "same for every N.",
       RunCompress},
      {"build",
       "UPDATE_DIR OUT_EXE [--fast] [--force] [--stub FILE] [-j N]\n"
       "             [--base DIR]... [--gate] [--keep-whole NAME]...",
       "Makes an UPDATE.EXE that carries the update folder UPDATE_DIR. The folder\n"
       "is checked first as 'qa2 check' does; errors refuse the build (exit 1)\n"
       "unless --force is given. Every regular file at the folder's top level\n"
       "becomes a member named by its base name, in order of member name (code\n"
       "page 932 bytes, ASCII letters compared as capitals), with its last-write\n"
       "time; names are refused as 'qa2 pack' refuses them. The archive goes into\n"
       "a copy of the updater stub this qa2 carries (or --stub FILE) as resource\n"
       "\"UPDATE\" 102, language 1041; a signature on the stub is dropped. The\n"
       "result is read back (resource found, archive opened, every member decoded\n"
       "and compared) before OUT_EXE is replaced. --fast compresses quickly;\n"
       "-j N compresses N members at once (default: one per core); neither the\n"
       "machine nor -j changes the bytes. No other program is run.\n"
       "The archive and the result are written to temporary files beside OUT_EXE\n"
       "and read back from there, so memory does not grow with the members.\n"
       "An UPDATE.EXE above 1.5 GiB is refused (exit 1): the 32-bit updater\n"
       "cannot be started from a larger one.\n"
       "--base DIR (repeatable): an installation of an earlier version, as it lies\n"
       "on disk. Each member that a plain, u or o entry writes is patched from\n"
       "every distinct content its targets have in the bases (resolved as the\n"
       "updater resolves them: DataFolder, the entry's path, letter case\n"
       "ignored); a patch is kept when it is smaller than the member compressed\n"
       "whole. The whole member is left out when every base holds every target\n"
       "(or every entry naming it is o, or OverwriteOnly) and every content got\n"
       "a patch. The updater then checks each patched target before writing\n"
       "anything: an earlier version is patched, the new one left untouched, any\n"
       "other refused with \"%s はこのアップデートに対応していないバージョンです\".\n"
       "--gate checks the whole members' targets that the bases hold too.\n"
       "--keep-whole NAME keeps member NAME whole, without patches. One line per\n"
       "member with a base content: whole size, patch sizes, what was kept. A\n"
       "file whose name begins with QA2$ is refused (those are the archive's own),\n"
       "as is a stub that cannot apply patches (exit 2).",
       RunBuild},
      {"preview",
       "UPDATE.EXE|UPDATE_DIR --install DIR [--inst-path WINPATH] [--data DIR]\n"
       "             [--data-path WINPATH] [--mode N] [--cdrom L:=DIR]... [--free BYTES] [--json]\n"
       "             [--base DIR]... [--gate] [--keep-whole NAME]... [--fast]",
       "Shows what the updater would do to the installation in DIR, changing\n"
       "nothing on disk: the updater's own start-up and update procedure run on a\n"
       "machine that keeps every write in memory over the real files, looks names\n"
       "up as Windows does (without regard to case, in code page 932), and answers\n"
       "the registry key the updater opens with InstPath WINPATH (default\n"
       "C:\\Games\\<GameDir>; its length decides what the 259-byte limits cut),\n"
       "DataPath (default: InstPath, or C:\\Save\\<GameDir> with --data DIR) and\n"
       "InstMode N (default 0); a --data folder that does not exist is previewed\n"
       "as missing. Each --cdrom folder is the root of CD-ROM drive L:.\n"
       "The installation's drive has BYTES free (default: DIR's own free space).\n"
       "The player presses 次へ, 次へ, then 完了 and answers every box with OK;\n"
       "another updater or the game running is not considered.\n"
       "Input: an UPDATE.EXE (its resource \"UPDATE\" 102; an archive file as well)\n"
       "or an update folder (its files as qa2 build would pack them; with --base,\n"
       "--gate, --keep-whole and --fast as qa2 build takes them, its patches).\n"
       "Prints the registry key and values assumed, every box and page (UTF-8),\n"
       "one line per file with its action and why, the bytes to write against the\n"
       "free space, and the exit code. --json prints one object instead:\n"
       "  exit_code  the updater's exit code, or null where the run would wait for\n"
       "             the player (\"waits\": \"space\" or \"disc\")\n"
       "  files      [{path (local, named as on disk), writes, action, target,\n"
       "             entry, [from], [bytes], why}]\n"
       "  messages, registry, deletions, attributes, bytes {write, free, required}\n"
       "Actions: new, replace, replace-newer (the installed file is later), rewrite\n"
       "(d: the player's file written back), keep (d: it cannot be), keep-newer\n"
       "(u: the installed file is later), skip-absent (o or OverwriteOnly),\n"
       "patch (a known old version patched), already-new (left untouched),\n"
       "wrong-version (neither: the update stops before writing anything),\n"
       "other-mode, fail (why says how), member-missing, disc-missing (not on the\n"
       "disc), wait-disc (the disc is in no --cdrom drive), not-reached (after a\n"
       "stop).\n"
       "writes is true for new, replace, replace-newer, rewrite and patch.\n"
       "Exit: 0 the preview ran (whatever it predicts), 1 an unreadable UPDATE.EXE,\n"
       "2 wrong arguments or a folder file that cannot be a member, 3 a file or\n"
       "folder could not be read.",
       RunPreviewCommand},
  };
  return commands;
}

}  // namespace qa2
