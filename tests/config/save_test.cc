// Saving: the file is replaced as a whole or not at all. Each failing system call (through the
// file table) leaves the old file exactly as it was, removes the temporary file and shows 2005.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "config/doc.h"
#include "fw/archive.h"
#include "host/sub/tarko_sub_host.h"
#include "platform/files/atomic_file.h"
#include "platform/files/file_io.h"
#include "platform/files/file_lock.h"
#include "tests/support/faulty_file_api.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"

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
    EXPECT_GE(Faults().Count(fault.call), fault.nth);  // the fault was reached
    files_.reset();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].code, 2005);
    EXPECT_EQ(boxes_[0].mode, 1);
    // The box names the file and the system's reason.
    EXPECT_NE(boxes_[0].text.find(path_), std::string::npos) << boxes_[0].text;
    EXPECT_NE(boxes_[0].text.find(std::strerror(fault.error)), std::string::npos) << boxes_[0].text;
    EXPECT_EQ(ReadFile(path_), old_bytes_);
    EXPECT_EQ(Mode(path_), 0640u);
    EXPECT_EQ(dir_.List(), std::set<std::string>{"line1.cfg"});
    EXPECT_EQ(doc_.Stations().size(), 400u);
  }
}

// The box says what to do: a read-only file, a folder where the save cannot make its new file,
// a read-only file system, a full disk.
TEST_F(SaveTest, FailedSaveSaysTheRemedy) {
  struct Case {
    std::vector<FaultScript::Fault> faults;
    std::string remedy;
  };
  const Case cases[] = {
      {{{"check_writable", 1, EACCES}, {"check_writable", 2, EACCES}},
       "read-only for this user: make it writable (chmod u+w " + path_ + ")"},
      {{{"create_new", 1, EACCES}}, "write permission on the folder " + dir_.path()},
      {{{"replace", 1, EPERM}}, "write permission on the folder " + dir_.path()},
      {{{"create_new", 1, EROFS}}, "is mounted read-only"},
      {{{"write", 2, ENOSPC}}, "the disk that holds " + dir_.path() + " is full"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults[0].call);
    boxes_.clear();
    files_.emplace();
    Faults().Set(c.faults);
    doc_.Save();
    files_.reset();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_NE(boxes_[0].text.find(c.remedy), std::string::npos) << boxes_[0].text;
    EXPECT_EQ(ReadFile(path_), old_bytes_);
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

TEST_F(SaveTest, SaveFileNamesTheFileOnAFailedWrite) {
  Install({"write", 2, ENOSPC});
  try {
    doc_.SaveFile(path_.c_str());
    FAIL();
  } catch (const CArchiveException& e) {
    EXPECT_EQ(std::string(e.what()), "cannot write " + path_ + ": No space left on device");
  }
}

// Links: `link` names the file that the save must change, through whatever `setup` made.
TEST_F(SaveTest, SavesIntoTheFileThatALinkNames) {
  TempDir other;
  struct Case {
    const char* what;
    std::string link;
    std::string real;
    std::vector<std::pair<std::string, std::string>> links;  // made in order: target, link
  };
  const Case cases[] = {
      {"absolute", dir_.File("a.cfg"), path_, {{path_, dir_.File("a.cfg")}}},
      {"relative, in another directory",
       other.File("b.cfg"),
       path_,
       {{"../" + dir_.path().substr(dir_.path().rfind('/') + 1) + "/line1.cfg",
         other.File("b.cfg")}}},
      {"a chain",
       dir_.File("c2.cfg"),
       path_,
       {{"line1.cfg", dir_.File("c1.cfg")}, {"c1.cfg", dir_.File("c2.cfg")}}},
      {"to no file yet",
       dir_.File("d.cfg"),
       dir_.File("new.cfg"),
       {{"new.cfg", dir_.File("d.cfg")}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(path_, old_bytes_);
    for (const auto& [target, link] : c.links) ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    doc_.SaveFile(c.link.c_str());
    struct stat st {};
    ASSERT_EQ(lstat(c.link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    CVeldraneDoc back;
    ASSERT_TRUE(back.Load(c.real.c_str()));
    EXPECT_EQ(back.Stations().size(), 400u);
    for (const auto& [target, link] : c.links) unlink(link.c_str());
    unlink(dir_.File("new.cfg").c_str());
    EXPECT_EQ(dir_.List(), std::set<std::string>{"line1.cfg"});
    EXPECT_TRUE(other.List().empty());
  }
}

TEST_F(SaveTest, ReplacesOnlyARegularFile) {
  std::string fifo = dir_.File("fifo.cfg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, dir_.path()}) {
    SCOPED_TRACE(path);
    try {
      doc_.SaveFile(path.c_str());
      ADD_FAILURE();
    } catch (const CArchiveException& e) {
      EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos) << e.what();
    }
  }
  struct stat st {};
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(dir_.List(), (std::set<std::string>{"fifo.cfg", "line1.cfg"}));
}

TEST_F(SaveTest, KeepsTheOwnerAndGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
  ASSERT_EQ(chown(path_.c_str(), 4321, 4322), 0);
  doc_.SaveFile(path_.c_str());
  struct stat st {};
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 4322u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(SaveTest, RemovesTemporariesThatAGoneProcessLeft) {
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  const std::string g = std::to_string(gone);
  const std::string alive = std::to_string(getppid());
  for (const std::string& name :
       {"line1.cfg.tmp" + g + "-0", "line1.cfg.tmp" + g + "-17", "line1.cfg.tmp" + alive + "-0",
        "other.cfg.tmp" + g + "-0", "line1.cfg.tmp" + g + "-x", "line1.cfg.tmp" + g}) {
    WriteFile(dir_.File(name), "partial");
  }
  doc_.SaveFile(path_.c_str());
  EXPECT_EQ(dir_.List(), (std::set<std::string>{"line1.cfg", "line1.cfg.tmp" + alive + "-0",
                                                "other.cfg.tmp" + g + "-0",
                                                "line1.cfg.tmp" + g + "-x", "line1.cfg.tmp" + g}));
}

TEST_F(SaveTest, ASignalDuringTheSaveRemovesTheTemporaryFile) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    pid_t child = fork();
    if (child == 0) {
      platform::AtomicFile out;
      if (!out.Begin(path_)) _exit(2);
      out.File().Write("partial", 7);
      raise(sig);
      _exit(3);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(dir_.List(), std::set<std::string>{"line1.cfg"});
    EXPECT_EQ(ReadFile(path_), old_bytes_);
  }
}

TEST_F(SaveTest, AWriterWaitsForTheLockAndThenGivesUpChangingNothing) {
  platform::FileLock other;
  ASSERT_EQ(other.Lock(path_, 0), platform::FileLock::Result::kLocked);
  platform::AtomicFile out;
  EXPECT_FALSE(out.Begin(path_, nullptr, 100));
  EXPECT_STREQ(out.failed_step(), "lock");
  CVeldraneDoc update;
  try {
    update.LoadFileForUpdate(path_.c_str(), 100);
    FAIL();
  } catch (const CArchiveException& e) {
    EXPECT_EQ(std::string(e.what()),
              path_ + " is locked by another program that is changing it (waited 0.1 s)");
  }
  EXPECT_TRUE(update.Stations().empty());
  EXPECT_EQ(ReadFile(path_), old_bytes_);
  EXPECT_EQ(dir_.List(), std::set<std::string>{"line1.cfg"});
  other.Unlock();
  EXPECT_TRUE(out.Begin(path_, nullptr, 100));
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
  EXPECT_EQ(boxes_[0].text.rfind("cannot create " + nowhere, 0), 0u) << boxes_[0].text;
}

}  // namespace
}  // namespace veldrane::test
