// The single-instance lock on Linux: kept in the program folder, looked at without being
// taken, refusing planted files, and stop signals across the whole locked lifetime.
#include <gtest/gtest.h>

#ifdef _WIN32
TEST(InstanceLock, LinuxOnly) { GTEST_SKIP() << "the named mutex of Windows has none of these faults"; }
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/instance.h"

namespace {

namespace fs = std::filesystem;

class InstanceLock : public ::testing::Test {
 protected:
  fs::path root;
  std::string data;
  void SetUp() override {
    char templ[] = "/tmp/tavrin-lock-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    root = templ;
    data = (root / "data").string();
    fs::create_directories(data);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  std::string lock_file() const { return data + "/instance.lock"; }
};

// Runs body in a child process and returns its wait status.
template <class F>
int in_child(F body) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

TEST_F(InstanceLock, OneOwnerPerFolderWhateverTheEnvironment) {
  ASSERT_EQ(plat::instance_lock(1, data), plat::instance_state::owned);
  EXPECT_EQ(plat::instance_owner(data), 0);  // our own lock is no other owner
  // Another process of the same folder, started with another runtime folder and temp folder.
  int status = in_child([&] {
    plat::instance_abandon();  // forget the parent's lock copied into this child; it is not ours
    setenv("XDG_RUNTIME_DIR", (root / "elsewhere").c_str(), 1);
    unsetenv("TMPDIR");
    _exit(plat::instance_lock(1, data) == plat::instance_state::taken &&
                  plat::instance_owner(data) == getppid()
              ? 0
              : 1);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::ifstream in(lock_file());
  long pid = 0;
  in >> pid;
  EXPECT_EQ(pid, getpid());  // the pid stands in the file for people to read
  plat::instance_release();
  EXPECT_TRUE(fs::exists(lock_file()));  // the file stays; only the lock goes
  status = in_child([&] {
    plat::instance_abandon();
    _exit(plat::instance_lock(1, data) == plat::instance_state::owned ? 0 : 1);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A --stop or a second start looking at the lock never makes a first start find it taken.
TEST_F(InstanceLock, LookingAtTheLockNeverTakesIt) {
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t parent = getpid();
  fflush(nullptr);
  pid_t probers[3];
  for (pid_t& prober : probers) {
    prober = fork();
    if (prober == 0) {
      close(go[1]);
      fcntl(go[0], F_SETFL, O_NONBLOCK);
      long seen = 0;
      char c;
      while (read(go[0], &c, 1) != 0) seen += plat::instance_owner(data) == parent;
      _exit(seen > 0 ? 0 : 3);  // 3: never saw the owner, so never looked while it held the lock
    }
  }
  close(go[0]);
  int owned = 0;
  const int cycles = 30000;
  for (int i = 0; i < cycles; ++i) {
    if (plat::instance_lock(1, data) == plat::instance_state::owned) ++owned;
    else plat::instance_abandon();
    plat::instance_release();
  }
  close(go[1]);
  for (pid_t prober : probers) {
    int status = 0;
    waitpid(prober, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  EXPECT_EQ(owned, cycles) << "a first start took the second-instance path";
}

// A link or FIFO planted where the lock file goes is never followed, written or waited on.
TEST_F(InstanceLock, PlantedFilesAreRefused) {
  std::string victim = (root / "victim.txt").string();
  std::ofstream(victim) << "keep me";
  struct plant {
    const char* what;
    bool (*make)(const std::string& at, const std::string& victim);
  } plants[] = {
      {"symbolic link", [](const std::string& at, const std::string& v) { return symlink(v.c_str(), at.c_str()) == 0; }},
      {"hard link", [](const std::string& at, const std::string& v) { return link(v.c_str(), at.c_str()) == 0; }},
      {"FIFO", [](const std::string& at, const std::string&) { return mkfifo(at.c_str(), 0600) == 0; }},
  };
  for (const auto& p : plants) {
    fs::remove(lock_file());
    ASSERT_TRUE(p.make(lock_file(), victim)) << p.what;
    EXPECT_EQ(plat::instance_lock(1, data), plat::instance_state::failed) << p.what;
    EXPECT_EQ(plat::instance_owner(data), 0) << p.what;
    std::ifstream in(victim);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "keep me") << p.what;
  }
}

// A stop signal just after the lock is taken, or just before and after it is released, sets
// the stop flag: the owner always ends in order.
TEST_F(InstanceLock, StopSignalsAcrossTheLockedLifetimeEndInOrder) {
  for (int sig : {SIGTERM, SIGINT}) {
    int status = in_child([&] {
      plat::stop_prepare();
      if (plat::instance_lock(1, data) != plat::instance_state::owned) _exit(4);
      raise(sig);  // arrives before the handler is in place
      plat::stop_create(1);
      if (!plat::stop_is_set()) _exit(5);
      plat::stop_close();
      raise(sig);  // at the very end
      plat::instance_release();
      raise(sig);
      _exit(plat::stop_is_set() ? 0 : 6);
    });
    EXPECT_TRUE(WIFEXITED(status)) << "signal " << sig << " killed the owner (status " << status << ")";
    if (WIFEXITED(status)) {
      EXPECT_EQ(WEXITSTATUS(status), 0) << "signal " << sig;
    }
  }
}

// A second instance that was asked to stop while it looked at the lock ends as asked.
TEST_F(InstanceLock, StopSignalStillEndsASecondInstance) {
  ASSERT_EQ(plat::instance_lock(1, data), plat::instance_state::owned);
  int status = in_child([&] {
    plat::instance_abandon();
    plat::stop_prepare();
    if (plat::instance_lock(1, data) != plat::instance_state::taken) _exit(4);
    raise(SIGTERM);
    plat::instance_abandon();
    _exit(0);  // not reached: the held signal ends it
  });
  plat::instance_release();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
}

}  // namespace
#endif
