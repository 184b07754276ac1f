// Saving: the file is replaced as a whole or not at all. Each failing system call (through the
// file table) leaves the old file exactly as it was, removes the temporary file and shows 2005.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <string>

#include "config/doc.h"
#include "fw/archive.h"
#include "host/sub/tarko_sub_host.h"
#include "tests/config/file_bytes.h"
#include "tests/config/temp_dir.h"
#include "tests/support/faulty_file_api.h"

namespace veldrane::test {
namespace {

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
    files_.reset();
    TarkoSubSetErrMsgHandler(nullptr, nullptr);
    umask(old_umask_);
  }
  void Install(const FaultScript::Fault& fault) {
    files_.emplace();
    Faults().Set({fault});
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
  std::optional<FaultyFiles> files_;
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
  const FaultScript::Fault faults[] = {
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
  for (const FaultScript::Fault& fault : faults) {
    SCOPED_TRACE(fault.call + " #" + std::to_string(fault.nth));
    boxes_.clear();
    Install(fault);
    doc_.Save();
    EXPECT_EQ(Faults().Count(fault.call), fault.nth);  // the fault was reached
    files_.reset();
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
