// veldrane-cfg, driven in-process with files for its standard streams.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "config/doc.h"
#include "platform/files/file_lock.h"
#include "platform/text/cp949.h"
#include "tests/support/fault_script.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"
#include "tools/cfg/cfg_tool.h"

namespace veldrane::test {
namespace {

const std::string kGaNa = "\xB0\xA1\xB3\xAA";              // 가나 in code page 949
const std::string kGaNaUtf8 = "\xEA\xB0\x80\xEB\x82\x98";  // 가나 in UTF-8

struct Result {
  int status;
  std::string out;
  std::string err;
};

std::string Drain(std::FILE* f) {
  std::rewind(f);
  std::string s;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) s.append(buffer, n);
  std::fclose(f);
  return s;
}

Result Cfg(std::vector<std::string> args, const std::string& input = "", bool terminal = false) {
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  int status = cfg::Run(args, {in, out, err, terminal});
  std::fclose(in);
  return {status, Drain(out), Drain(err)};
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CfgTool, NewCreatesTheDefaultAndKeepsAnExistingFile) {
  TempDir dir;
  std::string file = dir.File("a.cfg");
  Result r = Cfg({"new", file});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(file), FileBytes({}));
  WriteFile(file, "keep me");
  r = Cfg({"new", file});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile(file), "keep me");
  EXPECT_EQ(Cfg({"new", file, "--force"}).status, 0);
  EXPECT_EQ(ReadFile(file), FileBytes({}));
}

// Each port setting as the port page stores it, set by `port` on a file with a station (kept)
// and by `new`; every other value is refused with the allowed ones named, and nothing changes.
TEST(CfgTool, PortSetsWhatThePortPageOffersAndRefusesTheRest) {
  TempDir dir;
  const std::string file = dir.File("a.cfg");
  const std::string start = FileBytes({{"A"}}, Port{0, 5, 0, 1, 0, 4});  // an unknown flag bit
  const struct {
    std::vector<std::string> options;
    Port port;
  } sets[] = {
      {{"--com", "2"}, {1, 5, 0, 1, 0, 4}},
      {{"--com", "COM36"}, {35, 5, 0, 1, 0, 4}},
      {{"--baud", "300"}, {0, 0, 0, 1, 0, 4}},
      {{"--baud=38400"}, {0, 7, 0, 1, 0, 4}},
      {{"--parity", "even"}, {0, 5, 1, 1, 0, 4}},
      {{"--parity", "odd"}, {0, 5, 2, 1, 0, 4}},
      {{"--data", "7"}, {0, 5, 0, 0, 0, 4}},
      {{"--data", "8"}, {0, 5, 0, 1, 0, 4}},
      {{"--stop", "2"}, {0, 5, 0, 1, 1, 4}},
      {{"--rts-cts", "on"}, {0, 5, 0, 1, 0, 6}},
      {{"--com", "3", "--baud", "19200", "--parity", "none", "--stop", "1", "--rts-cts", "off"},
       {2, 6, 0, 1, 0, 4}},
  };
  for (const auto& c : sets) {
    SCOPED_TRACE(c.options[0]);
    WriteFile(file, start);
    std::vector<std::string> args = {"port", file};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Result r = Cfg(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(file), FileBytes({{"A"}}, c.port));
  }
  const struct {
    std::string option, value, allowed;
  } refused[] = {
      {"--com", "0", "1 to 36 (COM1 to COM36)"},
      {"--com", "37", "1 to 36 (COM1 to COM36)"},
      {"--com", "02", "1 to 36 (COM1 to COM36)"},
      {"--baud", "115200", "300, 600, 1200, 2400, 4800, 9600, 19200 or 38400"},
      {"--baud", "9600.0", "or 38400"},
      {"--parity", "mark", "none, even or odd"},
      {"--data", "6", "7 or 8"},
      {"--stop", "1.5", "1 or 2"},
      {"--rts-cts", "yes", "on or off"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.option + " " + c.value);
    WriteFile(file, start);
    Result r = Cfg({"port", file, c.option, c.value});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, c.option + " takes ")) << r.err;
    EXPECT_TRUE(Contains(r.err, c.allowed + ", not '" + c.value + "'")) << r.err;
    EXPECT_EQ(ReadFile(file), start);
    r = Cfg({"new", dir.File("b.cfg"), c.option, c.value});
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir.File("b.cfg")));
  }
  // Without options: shown; a file that is not there is not made.
  WriteFile(file, start);
  EXPECT_EQ(Cfg({"port", file}).out, "COM1, 9600, 8N1, no handshake\n");
  EXPECT_EQ(Cfg({"port", dir.File("none.cfg"), "--com", "2"}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.cfg")));
  // The same options on new.
  Result r = Cfg({"new", dir.File("c.cfg"), "--com", "2", "--baud", "19200", "--parity", "odd",
                  "--data", "7", "--stop", "2", "--rts-cts", "on"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir.File("c.cfg")), FileBytes({}, Port{1, 6, 2, 0, 1, 2}));
  EXPECT_TRUE(Contains(r.out, "COM2, 19200, 7O2, RTS/CTS")) << r.out;
}

// `port` reads the file only once the program changing it has saved, so that nothing that
// program wrote is lost.
TEST(CfgTool, PortWaitsForTheFilesLockAndKeepsWhatWasSavedMeanwhile) {
  TempDir dir;
  const std::string file = dir.File("a.cfg");
  WriteFile(file, FileBytes({{"A"}}));
  auto other = std::make_unique<platform::FileLock>();
  ASSERT_EQ(other->Lock(file, 0), platform::FileLock::Result::kLocked);
  std::thread changer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    WriteFile(file, FileBytes({{"A"}, {"B"}}));
    other.reset();
  });
  Result r = Cfg({"port", file, "--baud", "2400"});
  changer.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(file), FileBytes({{"A"}, {"B"}}, Port{0, 3, 0, 1, 0, 0}));
}

TEST(CfgTool, ShowGivesThePortInWordsAndKoreanAsUtf8) {
  TempDir dir;
  std::string file = dir.File("a.cfg");
  Port port;
  port.port_index = 2;
  port.option_flags = 2;
  WriteFile(file,
            FileBytes({{"PUMP1", "Tank A", 3, 10, 2, "FLOW1"}, {kGaNa, "", 9, 7, 0, ""}}, port));
  Result r = Cfg({"show", file});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "COM3, 9600, 8N1, RTS/CTS")) << r.out;
  EXPECT_TRUE(Contains(r.out, kGaNaUtf8)) << r.out;
  EXPECT_TRUE(Contains(r.out, "9 ?")) << r.out;  // a kind that no meter has
  EXPECT_TRUE(Contains(r.out, "FLOW1")) << r.out;

  // Control characters in names and descriptions never reach the terminal.
  WriteFile(file, FileBytes({{"P\x1b]0;X\x07", "D\x1b[2J", 0, 1, 0, "T\x9b"}}));
  r = Cfg({"show", file});
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
  EXPECT_TRUE(Contains(r.out, "P\\x1b]0;X\\x07")) << r.out;
  EXPECT_TRUE(Contains(r.out, "D\\x1b[2J")) << r.out;
  EXPECT_EQ(Cfg({"export", file}, "", true).out,
            "P\\x1b]0;X\\x07\t0\t1\t0\tT\xEF\xBF\xBD\tD\\x1b[2J\r\n");
}

TEST(CfgTool, ExportRawOrUtf8) {
  TempDir dir;
  std::string file = dir.File("a.cfg");
  WriteFile(file, FileBytes({{kGaNa, "d", 1, 2, 3, "T"}}));
  const std::string line = "\t1\t2\t3\tT\td\r\n";
  EXPECT_EQ(Cfg({"export", file}).out, kGaNa + line);
  EXPECT_EQ(Cfg({"export", file}, "", true).out, kGaNaUtf8 + line);
  EXPECT_EQ(Cfg({"export", file, "--utf8"}).out, kGaNaUtf8 + line);
  EXPECT_EQ(Cfg({"export", file, "--cp949"}, "", true).out, kGaNa + line);
}

TEST(CfgTool, ImportMergesLikeAPasteAndSaves) {
  TempDir dir;
  std::string file = dir.File("a.cfg");
  WriteFile(file, FileBytes({{"PUMP1", "", 0, 1, 0, ""}}));
  Result r = Cfg({"import", file}, "pump1\t3\t10\t2\tflow1\tTank A\r\nbad\t1\t256\r\nno tab\r\n" +
                                       kGaNa + "\t1\t2\r\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "2 lines taken, 1 dropped, 1 skipped")) << r.out;
  EXPECT_EQ(ReadFile(file), FileBytes({{"PUMP1", "Tank A", 3, 10, 2, "FLOW1"}, {kGaNa, "", 1, 2}}));

  r = Cfg({"import", file, "--utf8"}, kGaNaUtf8 + "\t2\t5\r\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(file), FileBytes({{"PUMP1", "Tank A", 3, 10, 2, "FLOW1"}, {kGaNa, "", 2, 5}}));
}

TEST(CfgTool, ModbusMapOfSeveralLinesInStationOrder) {
  TempDir dir;
  std::string a = dir.File("a.cfg"), b = dir.File("b.cfg"), none = dir.File("none.cfg");
  WriteFile(
      a, FileBytes(
             {{"S1", "", 0, 1, 0, "FLOW1"}, {"S2", "", 0, 2, 0, ""}, {"S3", "", 0, 3, 0, kGaNa}}));
  WriteFile(b, FileBytes({{"S1", "", 0, 1, 0, "Tank 2"}, {"S2", "", 0, 2, 0, "FLOW1"}}));
  WriteFile(none, FileBytes({{"S1", "", 0, 1, 0, ""}}));
  Result r = Cfg({"modbus-map", a, b});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string body = r.out.substr(r.out.find("\n0 ") + 1);
  EXPECT_EQ(body, "0 float32 FLOW1\n2 float32 " + kGaNaUtf8 + "\n4 float32 \"Tank 2\"\n");
  r = Cfg({"modbus-map", none});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "no station links a tag")) << r.err;
  EXPECT_EQ(Cfg({"modbus-map", a, dir.File("missing.cfg")}).status, 1);
}

TEST(CfgTool, ImportTakesOnlyUtf8ThatCodePage949CanHold) {
  TempDir dir;
  std::string file = dir.File("a.cfg");
  const std::string before = FileBytes({{"PUMP1", "", 0, 1, 0, ""}});
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string message;  // empty: taken
  };
  const Case cases[] = {
      // 가 and 나 sent as code page 949 under --utf8 would both have become '?'.
      {{"--utf8"},
       "A\t1\t2\r\n\xB0\xA1\t1\t3\r\n\xB3\xAA\t1\t4\r\n",
       "standard input line 2, byte 1: not UTF-8 (the byte 0xB0); nothing was changed"},
      {{"--utf8"},
       "A\t1\t2\r\nB\xF0\x9F\x98\x80\t1\t3\r\n",
       "standard input line 2, byte 2: '\xF0\x9F\x98\x80' has no code page 949 form"},
      {{}, "\xEF\xBB\xBFpump1\t3\t10\r\n", "a UTF-8 byte-order mark: this text is UTF-8"},
      // The mark is skipped: PUMP1 is updated, not joined by a station "?PUMP1".
      {{"--utf8"}, "\xEF\xBB\xBFpump1\t3\t10\r\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    WriteFile(file, before);
    std::vector<std::string> args = {"import", file};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Result r = Cfg(args, c.input);
    if (c.message.empty()) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(ReadFile(file), FileBytes({{"PUMP1", "", 3, 10, 0, ""}}));
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
      EXPECT_EQ(ReadFile(file), before);
    }
  }
}

TEST(CfgTool, ParallelImportsTakeTurnsAndLoseNothing) {
  TempDir dir;
  std::string file = dir.File("a.cfg");
  WriteFile(file, FileBytes({{"A"}, {"B"}, {"C"}, {"D"}, {"E"}, {"F"}, {"G"}}));
  std::vector<pid_t> children;
  for (int i = 0; i < 10; ++i) {
    pid_t child = fork();
    if (child == 0) {
      Result r = Cfg({"import", file}, "NEW" + std::to_string(i) + "\t1\t" + std::to_string(i));
      _exit(r.status);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  CVeldraneDoc doc;
  doc.LoadFile(file.c_str());
  EXPECT_EQ(doc.Stations().size(), 17u);
  EXPECT_EQ(dir.List(), std::set<std::string>{"a.cfg"});
}

TEST(CfgTool, ImportGivesUpOnALockedFileAndChangesNothing) {
  TempDir dir;
  std::string file = dir.File("a.cfg");
  const std::string before = FileBytes({{"A"}});
  WriteFile(file, before);
  platform::FileLock other;
  ASSERT_EQ(other.Lock(file, 0), platform::FileLock::Result::kLocked);
  Result r = Cfg({"import", file, "--wait", "0.2"}, "B\t1\t2\r\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, file + " is locked by another program that is changing it (waited "
                                     "0.2 s)"))
      << r.err;
  EXPECT_EQ(ReadFile(file), before);
  EXPECT_EQ(Cfg({"import", file, "--wait", "x"}).status, 2);
}

// Without a converter for code page 949, UTF-8 in or out stops with the reason instead of
// storing or writing text in the wrong encoding; raw bytes and plain ASCII still go.
TEST(CfgTool, WithoutACp949ConverterUtf8StopsAndChangesNothing) {
  TempDir dir;
  std::string file = dir.File("a.cfg");
  WriteFile(file, FileBytes({{kGaNa, "d", 1, 2, 3, "T"}}));
  const std::string before = ReadFile(file);
  InstalledApi<platform::CodePageApi> none(&platform::SetCodePageApi, platform::NoCodePageApi());

  Result r = Cfg({"import", file, "--utf8"}, kGaNaUtf8 + "\t2\t5\r\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "no converter for code page 949")) << r.err;
  EXPECT_TRUE(Contains(r.err, "nothing was changed")) << r.err;
  EXPECT_EQ(ReadFile(file), before);
  r = Cfg({"export", file}, "", true);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "no converter for code page 949")) << r.err;
  EXPECT_EQ(r.out, "");

  EXPECT_EQ(Cfg({"export", file, "--cp949"}).out, kGaNa + "\t1\t2\t3\tT\td\r\n");
  r = Cfg({"import", file, "--utf8"}, "PUMP2\t1\t7\r\n");
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(CfgTool, DamagedFileNamesSectionAndOffsetAndLosesNothing) {
  TempDir dir;
  std::string file = dir.File("a.cfg");
  std::string damaged = FileBytes({{"A"}}).substr(0, 40);
  WriteFile(file, damaged);
  for (const char* command : {"show", "export", "check", "import"}) {
    SCOPED_TRACE(command);
    Result r = Cfg({command, file}, "X\t1\t1\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "at byte 37 in the port settings")) << r.err;
    EXPECT_EQ(ReadFile(file), damaged);
  }
  Result r = Cfg({"show", dir.File("missing.cfg")});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "No such file")) << r.err;
}

TEST(CfgTool, CheckReportsEachProblem) {
  TempDir dir;
  std::string file = dir.File("a.cfg");
  WriteFile(file, FileBytes({{"P1", "", 0, 1, 0, ""},
                             {"p1", "", 7, 1, 8, ""},
                             {"P2", "", 0, 256},
                             {"P\x01", "", 0, 4, 0, "T\x1b[2J"}}));
  Result r = Cfg({"check", file});
  EXPECT_EQ(r.status, 1);
  for (const char* finding :
       {"station 2 (p1): the same name as station 1",
        "station 2 (p1): number 1 also used by station 1", "kind 7 outside 0 to 6",
        "decimals 8 outside 0 to 7", "station 3 (P2): number 256 outside 0 to 255",
        "station 4 (P\\x01): the name holds a control character",
        "the tag 'T\\x1b[2J' holds a control character: no MQTT topic can name it", "7 problems"}) {
    EXPECT_TRUE(Contains(r.out, finding)) << finding << "\n" << r.out;
  }
  WriteFile(file, FileBytes({{"P1", "", 0, 1}, {"P2", "", 6, 2, 7}}));
  EXPECT_EQ(Cfg({"check", file}).status, 0);

  // Port settings the driver would refuse, and ports no page offers.
  const struct {
    Port port;
    std::vector<std::string> findings;
  } ports[] = {
      {{35, 7, 2}, {}},
      {{36, 8, 3},
       {"port: COM37 outside COM1 to COM36", "port: baud index 8 outside 0 to 7",
        "port: parity index 3 outside 0 to 2", "3 problems"}},
      {{-1, -1, -1}, {"port: COM0 outside", "baud index -1", "parity index -1", "3 problems"}},
  };
  for (const auto& c : ports) {
    WriteFile(file, FileBytes({{"P1", "", 0, 1}}, c.port));
    Result checked = Cfg({"check", file});
    EXPECT_EQ(checked.status, c.findings.empty() ? 0 : 1) << checked.out;
    for (const std::string& finding : c.findings) {
      EXPECT_TRUE(Contains(checked.out, finding)) << finding << "\n" << checked.out;
    }
  }
}

TEST(CfgTool, Usage) {
  Result r = Cfg({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Contains(r.out, "Usage: veldrane-cfg"));
  EXPECT_EQ(Cfg({}).status, 2);
  EXPECT_EQ(Cfg({"frobnicate", "x"}).status, 2);
  EXPECT_EQ(Cfg({"show"}).status, 2);
  EXPECT_EQ(Cfg({"show", "a", "b"}).status, 2);
  EXPECT_EQ(Cfg({"export", "a", "--bogus"}).status, 2);
}

}  // namespace
}  // namespace veldrane::test
