// The volume helpers and the file shell, on the simulated card; mtools
// prepares and inspects the image from outside.
#include <cstring>

#include "config/error_log.h"
#include "config/system.h"
#include "fsck_judge.h"
#include "core/main.h"
#include "storage/microsd.h"
#include "storage_support.h"

namespace {

using storage_test::host;
using storage_test::mtype;
using storage_test::rtc_of;

class Shell : public storage_test::CardTest {
 protected:
  void SetUp() override {
    boot();
    strcpy(g_cCwdBuf, "/");
    UARTEchoSet(false);  // typed lines would interleave with the output
  }
  int run(const char *line) {
    snprintf(g_cCmdBuf, sizeof g_cCmdBuf, "%s", line);
    return CmdLineProcess(g_cCmdBuf);
  }
  // The shell from the main menu, fed the typed lines (ending in exit).
  std::string session(const std::string &typed) {
    board().type(typed);
    viewFiles();
    return console();
  }
  // Files put on the card from outside, before the firmware mounts it.
  void put(const std::string &path, const std::string &data) { put_file(path, data); }
  bool dir_exists(const char *path) {
    DIR d;
    return f_opendir(&d, path) == FR_OK;
  }
  static size_t count(const std::string &s, const std::string &what) {
    size_t n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) n++;
    return n;
  }
};

TEST_F(Shell, BlankLinesAndUnknownCommandsAreBadCommands) {
  std::string out = session("\r   \rHELP\rls\t-l\rexit\r");
  EXPECT_EQ(count(out, "Bad command!\n"), 4u) << out;
  EXPECT_EQ(out.rfind("\n\nUnix-like command line. Type 'help' for list of commands\n\n/> ", 0), 0u);
}

TEST_F(Shell, BlanksSeparateArgumentsAndNineAreTooMany) {
  EXPECT_EQ(run("  ls   -l"), 0);
  EXPECT_STREQ(g_ppcArgv[0], "ls");
  EXPECT_STREQ(g_ppcArgv[1], "-l");
  EXPECT_EQ(g_ppcArgv[2], nullptr);

  std::string out = session("mkdir a b c d e f g h\rexit\r");
  EXPECT_NE(out.find("Too many arguments for command processor!\n"), std::string::npos) << out;
  EXPECT_FALSE(dir_exists("/a")) << "nothing ran";
  EXPECT_EQ(run("mkdir a b c d e f g"), 0) << "eight words are fine";
  EXPECT_TRUE(dir_exists("/a"));
}

TEST_F(Shell, PathsAreComposedUnderTheWorkingDirectory) {
  EXPECT_EQ(run("mkdir logs"), 0);
  EXPECT_EQ(run("cd logs"), 0);
  EXPECT_STREQ(g_cCwdBuf, "/logs");
  EXPECT_EQ(run("mkdir sub"), 0);
  EXPECT_EQ(run("mv sub deeper"), 0);
  EXPECT_EQ(run("mkdir /abs"), 0) << "taken as relative: /logs//abs";
  storage_test::Host h = host("mdir -/ -b -i " + image() + " ::/");
  EXPECT_NE(h.out.find("::/LOGS/DEEPER/"), std::string::npos) << h.out;
  EXPECT_EQ(h.out.find("::/ABS"), std::string::npos) << h.out;

  std::string out = session("mkdir deeper\rcd /nope\rpwd\rexit\r");
  EXPECT_NE(out.find("\nCommand returned error code FR_EXIST\n"), std::string::npos) << out;
  EXPECT_NE(out.find("cd: /nope\nCommand returned error code FR_NO_PATH\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("/logs> /logs\n"), std::string::npos) << "unchanged after a failed cd: " << out;
}

// A working directory of 70 characters takes an argument of 8 (70 + 8 + 2
// = 80) but not one of 9, before any file system call.
TEST_F(Shell, ComposedPathsMustFitEightyBytes) {
  std::string cwd = "/" + std::string(69, 'd');
  strcpy(g_cCwdBuf, cwd.c_str());
  const std::string too_long = "Resulting path name is too long\n";
  for (const char *cmd : {"mkdir", "rm", "cat", "cd"}) {
    console();
    EXPECT_NE(run((std::string(cmd) + " 12345678").c_str()), 0) << cmd << ": reaches the volume";
    EXPECT_EQ(console().find(too_long), std::string::npos) << cmd;
    EXPECT_EQ(run((std::string(cmd) + " 123456789").c_str()), 0) << cmd;
    EXPECT_EQ(console(), too_long) << cmd;
  }
  EXPECT_EQ(run("mv 12345678 123456789"), 0);
  EXPECT_EQ(console(), too_long);
  EXPECT_EQ(run("mv 123456789 x"), 0);
  EXPECT_EQ(console(), too_long);
  EXPECT_STREQ(g_cCwdBuf, cwd.c_str());

  // An absolute path replaces the directory; it needs room for its NUL.
  // (Typed lines are shorter than this: only a handler call reaches it.)
  strcpy(g_cCwdBuf, "/");
  std::string abs = "/" + std::string(79, 'x');
  char *argv[] = {const_cast<char *>("cd"), abs.data(), nullptr};
  EXPECT_EQ(Cmd_cd(2, argv), 0);
  EXPECT_EQ(console(), too_long);
  abs.pop_back();
  argv[1] = abs.data();
  EXPECT_NE(Cmd_cd(2, argv), 0) << "fits; no such name";
  EXPECT_EQ(console().find(too_long), std::string::npos);
}

TEST_F(Shell, CdUpWalksToTheEmptyRootPath) {
  ASSERT_EQ(run("mkdir a"), 0);
  ASSERT_EQ(run("cd a"), 0);
  ASSERT_EQ(run("mkdir b"), 0);
  ASSERT_EQ(run("cd b"), 0);
  EXPECT_STREQ(g_cCwdBuf, "/a/b");
  EXPECT_EQ(run("cd .."), 0);
  EXPECT_STREQ(g_cCwdBuf, "/a");
  EXPECT_EQ(run("cd .."), 0);
  EXPECT_STREQ(g_cCwdBuf, "/");
  EXPECT_EQ(run("cd .."), 0);
  EXPECT_STREQ(g_cCwdBuf, "");
  console();
  EXPECT_EQ(run("ls"), 0) << "the empty path is the root";
  EXPECT_NE(console().find("  A\n"), std::string::npos);
  // Regression: from the empty path, ".." scanned from index -1.
  EXPECT_EQ(run("cd .."), 0);
  EXPECT_STREQ(g_cCwdBuf, "");
  EXPECT_EQ(run("mkdir c"), 0);
  EXPECT_TRUE(dir_exists("/c"));
  EXPECT_EQ(run("cd a"), 0);
  EXPECT_STREQ(g_cCwdBuf, "/a");
  EXPECT_EQ(run("cd /"), 0);
  EXPECT_STREQ(g_cCwdBuf, "/");

  strcpy(g_cCwdBuf, "");
  std::string out = session("exit\r");
  EXPECT_NE(out.find("\n> "), std::string::npos) << "no path before the prompt: " << out;
}

TEST_F(Shell, CatShowsTheWholeFileInChunks) {
  std::string two_chunks;
  for (int i = 0; i < 158; i++) two_chunks += (char)('a' + i % 26);
  put("/EXACT.TXT", two_chunks);
  put("/EMPTY.TXT", "");
  EXPECT_EQ(run("cat exact.txt"), 0);
  EXPECT_EQ(console(), two_chunks) << "a multiple of 79 bytes ends on the empty read";
  EXPECT_EQ(run("cat empty.txt"), 0);
  EXPECT_EQ(console(), "");
  EXPECT_EQ(run("cat none.txt"), FR_NO_FILE);
}

TEST_F(Shell, KeyDuringCatStopsAfterTheChunkAndIsDropped) {
  std::string text;
  for (int i = 0; i < 79 * 30; i++) text += (char)('A' + i % 26);
  put("/LONG.TXT", text);
  board().type("q");
  EXPECT_EQ(run("cat long.txt"), 0);
  EXPECT_EQ(console(), text.substr(0, 79));
  EXPECT_EQ(UARTRxBytesAvail(), 0) << "the key is not taken as input";
}

// Regression: handlers read argument slots left over from an earlier
// line when called without their arguments.
TEST_F(Shell, MissingArgumentsAnswerWithUsageAndTouchNothing) {
  ASSERT_EQ(run("mv keep other"), FR_NO_FILE);
  ASSERT_EQ(run("mkdir keep"), 0);
  console();
  EXPECT_EQ(run("rm"), 0);
  EXPECT_EQ(run("mv keep"), 0);
  EXPECT_EQ(run("cd"), 0);
  EXPECT_EQ(run("cat"), 0);
  EXPECT_EQ(run("mkdir"), 0);
  EXPECT_EQ(console(),
            "Usage: rm <name>\nUsage: mv <old name> <new name>\nUsage: cd <directory>\n"
            "Usage: cat <file>\nUsage: mkdir <directory>\n");
  EXPECT_TRUE(dir_exists("/keep"));
  EXPECT_FALSE(dir_exists("/other"));
  EXPECT_STREQ(g_cCwdBuf, "/");
}

TEST_F(Shell, LsShowsAttributesDatesSizesAndFreeSpace) {
  set_clock(rtc_of(2024, 3, 5, 10, 0, 0));
  ASSERT_EQ(run("mkdir logs"), 0);
  FIL f;
  UINT bw;
  ASSERT_EQ(f_open(&f, "/DATA.TXT", FA_WRITE | FA_CREATE_ALWAYS), FR_OK);
  ASSERT_EQ(f_write(&f, "twelve bytes", 12, &bw), FR_OK);
  ASSERT_EQ(f_close(&f), FR_OK);
  ASSERT_EQ(host("mattrib -i " + image() + " +r +h +s ::/DATA.TXT").rc, 0);
  // The window may hold the directory sector (a FAT12/16 root): remount.
  ASSERT_EQ(f_mount(&g_sFatFs, "", 0), FR_OK);
  storage_test::Host free = host("mdir -i " + image() + " ::/ | grep 'bytes free'");
  std::string digits;
  for (char c : free.out)
    if (c >= '0' && c <= '9') digits += c;
  char free_line[32];
  snprintf(free_line, sizeof free_line, "\n%10lluK bytes free\n", std::stoull(digits) / 1024);

  console();
  EXPECT_EQ(run("ls"), 0);
  EXPECT_EQ(console(), std::string("\n") +
                           "D---- 2024/03/05 16:00         0  LOGS\n"
                           "-RHSA 2024/03/05 16:00        12  DATA.TXT\n"
                           "\n   1 File(s)\n   1 Dir(s)" +
                           free_line);
}

// Regression: a listing longer than the console's transmit ring lost the
// lines that did not fit.
TEST_F(Shell, LongListingLosesNoLines) {
  std::string dir = board().dir() + "/many";
  ASSERT_EQ(host("mkdir " + dir + " && for i in $(seq 1 120); do echo $i > " + dir +
                 "/F$i.TXT; done && mcopy -i " + image() + " " + dir + "/* ::/")
                .rc,
            0);
  EXPECT_EQ(run("ls"), 0);
  std::string out = console();
  EXPECT_EQ(count(out, "\n----A "), 120u);
  EXPECT_NE(out.find(" 120 File(s)\n   0 Dir(s)"), std::string::npos);
}

TEST_F(Shell, DiskErrorIsShownAsUnknownErrorCode) {
  put("/BIG.TXT", std::string(3000, 'z'));
  ASSERT_EQ(run("ls"), 0);
  sim::sd_arm_read_error(1);
  std::string out = session("cat big.txt\rexit\r");
  EXPECT_NE(out.find("Command returned error code UNKNOWN ERROR CODE\n"), std::string::npos) << out;
  EXPECT_STREQ(StringFromFresult(FR_INVALID_DRIVE), "FR_INVALID_DRIVE");
  EXPECT_STREQ(StringFromFresult(FR_TIMEOUT), "UNKNOWN ERROR CODE");
}

TEST_F(Shell, DisabledCardRefusesTheShell) {
  microSD_flg = 0;
  board().type("ls\r");
  viewFiles();
  microSD_flg = 1;
  EXPECT_EQ(console(), "\nMicro SD card disabled, file commands not available\n\n");
  EXPECT_EQ(UARTRxBytesAvail(), 3) << "no input read";
  EXPECT_EQ(sim::sd_stats().frames, 0u);
}

class Volume : public Shell {
 protected:
  void name_data_file(const char *name) {
    memset(sys_data.fileName, 0, sizeof sys_data.fileName);
    memcpy(sys_data.fileName, name, strnlen(name, sizeof sys_data.fileName));
  }
};

TEST_F(Volume, AppendCreatesTheDataFileAndAddsAtItsEnd) {
  name_data_file("data.txt");
  appendBufferToSDCard("one\n");
  appendBufferToSDCard("two\n");
  EXPECT_EQ(console(), "");
  EXPECT_EQ(mtype(image(), "/DATA.TXT"), "one\ntwo\n");
}

TEST_F(Volume, AppendWithoutACardReportsTheOpen) {
  sim::sd_faults().no_card = true;
  name_data_file("data.txt");
  appendBufferToSDCard("one\n");
  EXPECT_EQ(console(), "f_open error: FR_NOT_READY\n");
}

// Regression: a file name filling all 16 bytes ran on into the next field
// of the record.
TEST_F(Volume, FileNameFillingItsFieldEndsThere) {
  ASSERT_EQ(host("mmd -i " + image() + " ::/A ::/A/B ::/A/B/C ::/A/B/C/D ::/A/B/C/D/E").rc, 0);
  name_data_file("/A/B/C/D/E/F.TXT");
  memcpy(sys_data.user, "QQ", 3);
  appendBufferToSDCard("rec\n");
  EXPECT_EQ(console(), "");
  EXPECT_EQ(mtype(image(), "/A/B/C/D/E/F.TXT"), "rec\n");
}

TEST_F(Volume, FormattedWriteIsCutAt255Characters) {
  FIL f;
  ASSERT_EQ(f_open(&f, "/FMT.TXT", FA_WRITE | FA_CREATE_ALWAYS), FR_OK);
  EXPECT_EQ(sd_fprintf(&f, "%s=%d\n", "x", 42), 5);
  EXPECT_EQ(sd_fprintf(&f, "%s", std::string(300, 'y').c_str()), 255);
  ASSERT_EQ(f_close(&f), FR_OK);
  EXPECT_EQ(mtype(image(), "/FMT.TXT"), "x=42\n" + std::string(255, 'y'));
  EXPECT_EQ(sd_fprintf(&f, "late"), 0) << "closed file";
  EXPECT_EQ(console(), "f_write error: FR_INVALID_OBJECT\n");
}

// A card too full for a record keeps the data file as it was (never a
// partial line: the 100 bytes that fitted are taken back), says so once
// per wake, and logs it where the log still has room.
TEST_F(Volume, FullCardKeepsTheDataFileWholeAndSaysSoOnce) {
  boot(sim::SdType::kSdhc, "", 2);  // FAT12, 8 KB clusters
  name_data_file("data.txt");
  std::string old(2 * 8192 - 100, 'o');
  put_file("/DATA.TXT", old);
  // The log has room for one entry of the card being full, and 25 bytes more.
  std::string log = "log" + std::string(8192 - 25 - 53 - 3, 'e');
  put_file("/ERROR.TXT", log);
  std::string dir = host("mdir -i " + image() + " ::").out;
  size_t at = dir.find(" bytes free");
  ASSERT_NE(at, std::string::npos) << dir;
  std::string digits;
  for (size_t i = dir.find_last_not_of("0123456789 ", at - 1) + 1; i < at; i++)
    if (dir[i] != ' ') digits += dir[i];
  put_file("/FILL.BIN", std::string(std::stoul(digits), 'f'));

  append_record(std::string(200, 'r').c_str());
  append_record(std::string(200, 's').c_str());
  EXPECT_EQ(console(), "uSD card full: record not stored\n");
  EXPECT_TRUE(mtype(image(), "/DATA.TXT") == old);
  std::string logged = mtype(image(), "/ERROR.TXT");
  EXPECT_EQ(logged.substr(0, log.size()), log);
  EXPECT_TRUE(storage_test::matches(logged.substr(log.size()), "\n[0-9/]{10} [0-9:]{8} uSD card full: record not stored"));
  fsck_judge::Verdict v = fsck_judge::check(image(), fsck_judge::kClean);
  EXPECT_TRUE(v.ok()) << v.out;

  // The log's own entry that no longer fits (its time stamp would) is not
  // left half written either.
  error_store("an entry longer than the four bytes left");
  EXPECT_EQ(console(), "Error.txt f_write error: card full\n");
  EXPECT_TRUE(mtype(image(), "/ERROR.TXT") == logged);
}

}  // namespace
