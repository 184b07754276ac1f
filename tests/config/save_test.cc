// Saving: the file is replaced as a whole or not at all. Each failing system call (through the
// file table) leaves the old file exactly as it was, removes the temporary file and shows 2005.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "config/doc.h"
#include "fw/archive.h"
#include "host/sub/tarko_sub_host.h"
#include "platform/file_io.h"
#include "tests/config/file_bytes.h"
#include "tests/config/temp_dir.h"

namespace veldrane::test {
namespace {

using platform::FileApi;
using platform::FileHandle;
using platform::SystemFileApi;

// Fails the nth call of one kind with an error number; every other call goes to the system.
struct Fault {
  const char* call;
  int nth;
  int error;
};
Fault g_fault{};
std::map<std::string, int> g_calls;

bool Hit(const char* call) {
  int n = ++g_calls[call];
  if (g_fault.call && std::strcmp(call, g_fault.call) == 0 && n == g_fault.nth) {
    errno = g_fault.error;
    return true;
  }
  return false;
}

const FileApi kFaulty = {
    [](const char* p) { return Hit("open_read") ? -1 : SystemFileApi().open_read(p); },
    [](const char* p, uint32_t m) {
      return Hit("create_new") ? -1 : SystemFileApi().create_new(p, m);
    },
    [](FileHandle f, void* b, size_t n) {
      return Hit("read") ? -1 : SystemFileApi().read(f, b, n);
    },
    [](FileHandle f, const void* b, size_t n) {
      return Hit("write") ? -1 : SystemFileApi().write(f, b, n);
    },
    [](FileHandle f) { return Hit("sync") ? -1 : SystemFileApi().sync(f); },
    [](FileHandle f) {
      int r = SystemFileApi().close(f);  // the descriptor goes either way
      return Hit("close") ? -1 : r;
    },
    [](FileHandle f) { return Hit("size") ? int64_t{-1} : SystemFileApi().size(f); },
    [](FileHandle f, uint32_t m) { return Hit("set_mode") ? -1 : SystemFileApi().set_mode(f, m); },
    [](const char* p, uint32_t* m) {
      return Hit("get_mode") ? -1 : SystemFileApi().get_mode(p, m);
    },
    [](const char* p) { return Hit("check_writable") ? -1 : SystemFileApi().check_writable(p); },
    [](const char* a, const char* b) {
      return Hit("replace") ? -1 : SystemFileApi().replace(a, b);
    },
    [](const char* p) { return Hit("remove") ? -1 : SystemFileApi().remove(p); },
    [](const char* p) { return Hit("sync_dir") ? -1 : SystemFileApi().sync_dir(p); },
};

struct ErrorBox {
  int32_t code;
  int32_t mode;
  std::string text;
};

class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TarkoSubSetErrMsgHandler(
        [](int32_t code, int32_t mode, const char* text, void* context) {
          static_cast<std::vector<ErrorBox>*>(context)->push_back({code, mode, text ? text : ""});
        },
        &boxes_);
    old_umask_ = umask(022);
    path_ = dir_.File("line1.cfg");
    WriteFile(path_, old_bytes_);
    chmod(path_.c_str(), 0640);
    // Enough stations for several buffers of writes.
    for (int i = 0; i < 400; ++i) {
      auto st = std::make_unique<CStationInfo>();
      st->name.Format("STATION%d", i);
      st->number = i % 256;
      doc_.Stations().push_back(std::move(st));
    }
    doc_.SetPath(path_.c_str());
  }
  void TearDown() override {
    platform::SetFileApi(nullptr);
    g_fault = {};
    TarkoSubSetErrMsgHandler(nullptr, nullptr);
    umask(old_umask_);
  }
  void Install(Fault fault) {
    g_fault = fault;
    g_calls.clear();
    platform::SetFileApi(&kFaulty);
  }
  uint32_t Mode(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
  }

  TempDir dir_;
  std::string path_;
  const std::string old_bytes_ = FileBytes({{"OLD", "", 1, 2, 3, "T"}});
  CVeldraneDoc doc_;
  std::vector<ErrorBox> boxes_;
  mode_t old_umask_ = 0;
};

TEST_F(SaveTest, ReplacesTheFileAndKeepsItsPermissions) {
  doc_.Save();
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(dir_.List(), std::set<std::string>{"line1.cfg"});
  EXPECT_EQ(Mode(path_), 0640u);
  CVeldraneDoc back;
  ASSERT_TRUE(back.Load(path_.c_str()));
  ASSERT_EQ(back.Stations().size(), 400u);
  EXPECT_EQ(back.Names()[399], "STATION399");
}

TEST_F(SaveTest, NewFileGetsTheUsualPermissions) {
  std::string fresh = dir_.File("new.cfg");
  doc_.SetPath(fresh.c_str());
  doc_.Save();
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(Mode(fresh), 0644u);
}

TEST_F(SaveTest, EveryFailingStepLeavesTheOldFile) {
  const Fault faults[] = {
      {"check_writable", 1, EACCES},  // an existing file that may not be written
      {"create_new", 1, EACCES},      // a directory that refuses writes
      {"create_new", 1, ENOSPC},
      {"set_mode", 1, EPERM},
      {"write", 1, ENOSPC},
      {"write", 2, ENOSPC},  // the disk fills half-way
      {"sync", 1, EIO},
      {"close", 1, EIO},
      {"replace", 1, EXDEV},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(std::string(fault.call) + " #" + std::to_string(fault.nth));
    boxes_.clear();
    Install(fault);
    doc_.Save();
    platform::SetFileApi(nullptr);
    EXPECT_EQ(g_calls[fault.call], fault.nth);  // the fault was reached
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].code, 2005);
    EXPECT_EQ(boxes_[0].mode, 1);
    EXPECT_EQ(boxes_[0].text, path_);
    EXPECT_EQ(ReadFile(path_), old_bytes_);
    EXPECT_EQ(Mode(path_), 0640u);
    EXPECT_EQ(dir_.List(), std::set<std::string>{"line1.cfg"});
    EXPECT_EQ(doc_.Stations().size(), 400u);
  }
}

TEST_F(SaveTest, SaveFileNamesTheStepAndError) {
  Install({"write", 2, ENOSPC});
  try {
    doc_.SaveFile(path_.c_str());
    FAIL();
  } catch (const CArchiveException& e) {
    EXPECT_EQ(e.cause(), ArchiveCause::kFileError);
    EXPECT_EQ(e.sys_error(), ENOSPC);
  }
}

TEST_F(SaveTest, ReadOnlyDirectory) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into any directory";
  chmod(dir_.path().c_str(), 0555);
  doc_.Save();
  chmod(dir_.path().c_str(), 0755);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].code, 2005);
  EXPECT_EQ(ReadFile(path_), old_bytes_);
}

TEST_F(SaveTest, MissingDirectory) {
  std::string nowhere = dir_.File("no/such/dir.cfg");
  doc_.SetPath(nowhere.c_str());
  doc_.Save();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, nowhere);
}

}  // namespace
}  // namespace veldrane::test
