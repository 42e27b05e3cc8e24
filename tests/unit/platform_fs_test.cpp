// Files and folders, run natively on Linux and under Wine for Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/append.h"
#include "platform/fs.h"
#include "platform/proc.h"
#include "platform/sys.h"

#ifndef _WIN32
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>     // only to start this test program again
#include <sys/resource.h>
#include <unistd.h>
#include <sys/stat.h>  // only to check the mode of private files
#include <sys/wait.h>

#include <cerrno>
extern char** environ;
#else
#include <windows.h>  // only to hold a file open the way another reader would
#endif

namespace {

const bool kWindows = plat::path_sep == '\\';

std::string random_hex() {
  unsigned char b[6];
  EXPECT_TRUE(plat::random_bytes(b, sizeof b));
  std::string s;
  for (unsigned char c : b) {
    s += "0123456789abcdef"[c >> 4];
    s += "0123456789abcdef"[c & 15];
  }
  return s;
}

class FsTest : public ::testing::Test {
 protected:
  std::string dir;
  void SetUp() override {
    dir = plat::temp_dir() + plat::path_sep + "tavrin-fs-" + random_hex();
    ASSERT_TRUE(plat::dir_create(dir)) << dir;
  }
  void TearDown() override { plat::dir_delete_tree(dir); }
  std::string at(const std::string& name) const { return dir + plat::path_sep + name; }
  std::string read(const std::string& name) const {
    auto r = plat::file_read_all(at(name), 1 << 20);
    return r ? *r : "<unreadable>";
  }
  std::set<std::string> names(std::string_view pattern) const {
    std::set<std::string> out;
    for (auto& e : plat::dir_list(dir, pattern)) out.insert(e.name);
    return out;
  }
};

TEST_F(FsTest, ReadAllHonoursTheLimitAndKeepsBytesAsTheyAre) {
  struct Case {
    const char* what;
    std::string content;
    uint64_t limit;
    bool ok;
  };
  const std::string big(3 * 65536 + 17, 'x');  // several read chunks
  const Case cases[] = {
      {"empty file reads as empty text", "", 0, true},
      {"exactly at the limit", "abcd", 4, true},
      {"one byte over the limit", "abcde", 4, false},
      {"byte order mark is left for the caller", "\xEF\xBB\xBF" "x", 4, true},
      {"embedded NUL and high bytes kept", std::string("a\0b\xff\r\n", 6), 6, true},
      {"large file at its size", big, big.size(), true},
      {"large file one byte short of limit", big, big.size() - 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(plat::file_write(at("r.bin"), c.content));
    auto got = plat::file_read_all(at("r.bin"), c.limit);
    ASSERT_EQ(got.has_value(), c.ok);
    if (c.ok) {
      EXPECT_EQ(*got, c.content);
    }
  }
  EXPECT_FALSE(plat::file_read_all(at("missing"), 100));
  EXPECT_FALSE(plat::file_read_all(dir, 1 << 20)) << "a folder is not a file";
}

TEST_F(FsTest, ReplaceAtomicWritesWholeContentAndLeavesNoTemporaryFile) {
  struct Case {
    const char* what;
    const char* before;    // nullptr: no target yet
    const char* leftover;  // nullptr: no .tmp from an earlier crash
    std::string bytes;
  };
  const Case cases[] = {
      {"new file", nullptr, nullptr, "{\"a\":1}"},
      {"replaces a longer file", "0123456789abcdef", nullptr, "short"},
      {"reuses and truncates a leftover temporary file", "old", "leftover bytes, longer than new",
       "new"},
      {"empty text makes an empty file", "not empty", "junk", ""},
      {"binary content", nullptr, nullptr, std::string("\0\x01\xfe\xff", 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    plat::file_delete(at("t.json"));
    if (c.before) {
      ASSERT_TRUE(plat::file_write(at("t.json"), c.before));
    }
    if (c.leftover) {
      ASSERT_TRUE(plat::file_write(at("t.json.tmp"), c.leftover));
    }
    ASSERT_TRUE(plat::file_replace_atomic(at("t.json"), c.bytes));
    EXPECT_EQ(read("t.json"), c.bytes);
    EXPECT_EQ(plat::file_size(at("t.json")), c.bytes.size());
    EXPECT_FALSE(plat::path_exists(at("t.json.tmp")));
  }
}

TEST_F(FsTest, ReplaceAtomicFailureLeavesTargetUnchanged) {
  // The target is a folder: the rename cannot land; the temporary file must go.
  ASSERT_TRUE(plat::dir_create(at("target")));
  ASSERT_TRUE(plat::file_write(at("target") + plat::path_sep + "inside", "keep"));
  EXPECT_FALSE(plat::file_replace_atomic(at("target"), "data"));
  EXPECT_TRUE(plat::path_is_dir(at("target")));
  EXPECT_EQ(read("target" + std::string(1, plat::path_sep) + "inside"), "keep");
  EXPECT_FALSE(plat::path_exists(at("target.tmp")));

  // The temporary name is taken by a folder: nothing can be written.
  ASSERT_TRUE(plat::file_write(at("f.json"), "old"));
  ASSERT_TRUE(plat::dir_create(at("f.json.tmp")));
  EXPECT_FALSE(plat::file_replace_atomic(at("f.json"), "new"));
  EXPECT_EQ(read("f.json"), "old");
  EXPECT_TRUE(plat::path_is_dir(at("f.json.tmp"))) << "someone else's entry is not removed";

  // The folder does not exist.
  EXPECT_FALSE(plat::file_replace_atomic(at("no-such-folder") + plat::path_sep + "x.json", "new"));
  EXPECT_FALSE(plat::path_exists(at("no-such-folder")));
}

TEST_F(FsTest, ConcurrentReplacesNeverMixContent) {
  // Writers with payloads of different lengths; a reader must only ever see one whole payload.
  const int kWriters = 4, kRounds = 150;
  std::vector<std::string> payloads;
  for (int i = 0; i < kWriters; ++i) payloads.push_back(std::string(1000 + 337 * i, char('A' + i)));
  ASSERT_TRUE(plat::file_replace_atomic(at("c.json"), payloads[0]));
  std::atomic<int> successes{0};
  std::atomic<bool> done{false};
  std::vector<std::string> torn;
  std::thread reader([&] {
    while (!done) {
      auto r = plat::file_read_all(at("c.json"), 1 << 20);
      if (r && std::find(payloads.begin(), payloads.end(), *r) == payloads.end())
        torn.push_back(r->substr(0, 40));
      // Windows refuses to replace a file while it is open: leave the writers some room.
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::vector<std::thread> writers;
  for (int i = 0; i < kWriters; ++i)
    writers.emplace_back([&, i] {
      for (int k = 0; k < kRounds; ++k)
        if (plat::file_replace_atomic(at("c.json"), payloads[i])) ++successes;
    });
  for (auto& t : writers) t.join();
  done = true;
  reader.join();
  EXPECT_TRUE(torn.empty()) << "mixed content seen, e.g. " << torn.front();
  EXPECT_GT(successes.load(), 0);
  auto final_content = plat::file_read_all(at("c.json"), 1 << 20);
  ASSERT_TRUE(final_content);
  EXPECT_NE(std::find(payloads.begin(), payloads.end(), *final_content), payloads.end());
  EXPECT_FALSE(plat::path_exists(at("c.json.tmp")));
}

#ifndef _WIN32
TEST_F(FsTest, PrivateFilesAreOwnerOnlyOnLinux) {
  auto mode = [&](const std::string& name) {
    struct stat st {};
    EXPECT_EQ(::stat(at(name).c_str(), &st), 0);
    return st.st_mode & 0777;
  };
  // A leftover temporary file that others could read must not pass its mode on.
  ASSERT_TRUE(plat::file_write(at("session.txt.tmp"), "stale"));
  ASSERT_EQ(::chmod(at("session.txt.tmp").c_str(), 0666), 0);
  ASSERT_TRUE(plat::file_replace_atomic(at("session.txt"), "token", true));
  EXPECT_EQ(mode("session.txt"), 0600u);
  ASSERT_TRUE(plat::file_write(at("s2.txt"), "token", true));
  EXPECT_EQ(mode("s2.txt"), 0600u);
  ASSERT_TRUE(plat::file_replace_atomic(at("plain.json"), "{}"));
  EXPECT_EQ(mode("plain.json") & 0600u, 0600u);
}
#endif

TEST_F(FsTest, CopyNewNeverOverwrites) {
  ASSERT_TRUE(plat::file_write(at("src"), std::string(200000, 'q') + "end"));
  ASSERT_TRUE(plat::file_write(at("taken"), "mine"));
  ASSERT_TRUE(plat::dir_create(at("folder")));
  struct Case {
    const char* what;
    std::string from, to;
    bool ok;
    const char* to_after;  // expected content of to afterwards; nullptr: must not exist
  };
  const Case cases[] = {
      {"fresh target", at("src"), at("copy"), true, nullptr},
      {"existing target refused and kept", at("src"), at("taken"), false, "mine"},
      {"missing source creates nothing", at("missing"), at("none"), false, nullptr},
      {"folder as source", at("folder"), at("fromdir"), false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(plat::file_copy_new(c.from, c.to), c.ok);
    if (c.ok) {
      EXPECT_EQ(plat::file_read_all(c.to, 1 << 20), plat::file_read_all(c.from, 1 << 20));
    } else if (c.to_after) {
      EXPECT_EQ(plat::file_read_all(c.to, 1 << 20), std::string(c.to_after));
    } else {
      EXPECT_FALSE(plat::path_exists(c.to));
    }
  }
}

TEST_F(FsTest, ListingMatchesPatternFlagsFoldersAndReportsTimes) {
  for (const char* f : {"Tavrin-2026-01-01.log", "Tavrin-x.log", "other.log", "Tavrin-a.txt",
                        "Tavrin-.log.bak", "a.c", "ab.c", "中.c"})
    ASSERT_TRUE(plat::file_write(at(f), "x"));
  ASSERT_TRUE(plat::dir_create(at("Tavrin-dir.log")));

  struct Case {
    const char* pattern;
    std::set<std::string> expected;
  };
  const Case cases[] = {
      {"Tavrin-*.log", {"Tavrin-2026-01-01.log", "Tavrin-x.log", "Tavrin-dir.log"}},
      {"*.log", {"Tavrin-2026-01-01.log", "Tavrin-x.log", "Tavrin-dir.log", "other.log"}},
      {"?.c", {"a.c", "中.c"}},  // '?' is one character, also a Chinese one
      {"??.c", {"ab.c"}},
      {"none-*", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(names(c.pattern), c.expected);
  }
  // Windows compares names without regard to case; Linux compares bytes.
  std::set<std::string> upper = names("TAVRIN-*.LOG");
  EXPECT_EQ(upper.size(), kWindows ? 3u : 0u);

  const int64_t day = 864000000000LL;
  const int64_t now = plat::time_now_filetime();
  const int64_t old = (now - 31 * day) / 10000000 * 10000000;  // whole seconds suit every file system
  ASSERT_TRUE(plat::file_set_write_time(at("Tavrin-x.log"), old));
  for (const auto& e : plat::dir_list(dir, "Tavrin-*.log")) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(e.is_dir, e.name == "Tavrin-dir.log");
    if (e.name == "Tavrin-x.log") {
      EXPECT_EQ(e.write_time, old);
    } else {
      // Written moments ago; a unit or epoch mistake would be off by years.
      EXPECT_LT(std::llabs(e.write_time - now), 600LL * 10000000LL);
    }
  }
  EXPECT_TRUE(plat::dir_list(at("missing"), "*").empty());
}

TEST_F(FsTest, ChineseNamesRoundTrip) {
  const std::string folder = at("练习目录");
  const std::string file = folder + plat::path_sep + "第一题·解答.c";
  const std::string copy = folder + plat::path_sep + "副本（备份）.c";
  const std::string code = "int main(void) { /* 你好 */ return 0; }\n";
  ASSERT_TRUE(plat::dir_create(folder));
  EXPECT_TRUE(plat::path_is_dir(folder));
  ASSERT_TRUE(plat::file_replace_atomic(file, code));
  EXPECT_EQ(plat::file_read_all(file, 1000), code);
  ASSERT_TRUE(plat::file_copy_new(file, copy));
  std::set<std::string> listed;
  for (auto& e : plat::dir_list(folder, "*.c")) listed.insert(e.name);
  EXPECT_EQ(listed, (std::set<std::string>{"第一题·解答.c", "副本（备份）.c"}));
  EXPECT_EQ(names("练习*"), std::set<std::string>{"练习目录"});
  EXPECT_TRUE(plat::file_delete(copy));
  EXPECT_FALSE(plat::path_exists(copy));
  EXPECT_TRUE(plat::dir_delete_tree(folder));
  EXPECT_FALSE(plat::path_exists(folder));
}

TEST_F(FsTest, SmallQueriesAndFolderOperations) {
  ASSERT_TRUE(plat::file_write(at("f"), "12345"));
  EXPECT_TRUE(plat::path_exists(at("f")));
  EXPECT_FALSE(plat::path_is_dir(at("f")));
  EXPECT_EQ(plat::file_size(at("f")), 5u);
  EXPECT_FALSE(plat::file_size(at("missing")));
  EXPECT_FALSE(plat::file_size(dir)) << "a folder has no file size";
  EXPECT_FALSE(plat::dir_create(at("f"))) << "name taken by a file";
  EXPECT_FALSE(plat::file_delete(at("missing")));
  ASSERT_TRUE(plat::dir_create(at("d")));
  EXPECT_FALSE(plat::dir_create(at("d"))) << "already there";
  EXPECT_FALSE(plat::file_delete(at("d"))) << "folders are not files";
  EXPECT_TRUE(plat::path_is_dir(at("d")));
  EXPECT_FALSE(plat::dir_delete_tree(at("f"))) << "a file is not a folder";
  EXPECT_TRUE(plat::path_exists(at("f")));
  EXPECT_FALSE(plat::dir_delete_tree(at("missing")));
}

TEST_F(FsTest, DeleteTreeRemovesNestedContentButNotWhatLinksPointTo) {
  const char s = plat::path_sep;
  const std::string tree = at("tree");
  ASSERT_TRUE(plat::dir_create(tree));
  ASSERT_TRUE(plat::dir_create(tree + s + "a"));
  ASSERT_TRUE(plat::dir_create(tree + s + "a" + s + "b"));
  ASSERT_TRUE(plat::file_write(tree + s + "top.txt", "1"));
  ASSERT_TRUE(plat::file_write(tree + s + "a" + s + "b" + s + "deep.exe", "2"));
  ASSERT_TRUE(plat::file_write(tree + s + "a" + s + "空.txt", ""));

  // Something outside the tree that a link inside points to must survive.
  ASSERT_TRUE(plat::dir_create(at("outside")));
  ASSERT_TRUE(plat::file_write(at("outside") + s + "precious", "keep"));
  bool linked = true;
  try {
    std::filesystem::create_directory_symlink(std::filesystem::u8path(at("outside")),
                                              std::filesystem::u8path(tree + s + "link"));
  } catch (const std::exception&) {
    linked = false;  // Windows without the privilege to make links
  }
  EXPECT_TRUE(plat::dir_delete_tree(tree));
  EXPECT_FALSE(plat::path_exists(tree));
  if (linked) {
    EXPECT_EQ(read("outside" + std::string(1, s) + "precious"), "keep");
  }
}

TEST(FsPaths, ExecutableAndTemporaryFolder) {
  const std::string exe = plat::exe_path();
  const std::string expected_tail =
      std::string(1, plat::path_sep) + (kWindows ? "platform_fs_test.exe" : "platform_fs_test");
  ASSERT_GT(exe.size(), expected_tail.size());
  EXPECT_EQ(exe.substr(exe.size() - expected_tail.size()), expected_tail);
  EXPECT_TRUE(plat::path_exists(exe));
  EXPECT_FALSE(plat::path_is_dir(exe));

  const std::string tmp = plat::temp_dir();
  ASSERT_FALSE(tmp.empty());
  EXPECT_NE(tmp.back(), plat::path_sep);
  EXPECT_TRUE(plat::path_is_dir(tmp));

  // The variable each system reads first; trailing separators are dropped.
  const std::string var = kWindows ? "TMP" : "TMPDIR";
  const std::string custom = tmp + plat::path_sep + "tavrin-tmp-" + random_hex();
  ASSERT_TRUE(plat::dir_create(custom));
  auto saved = plat::env_get(var);
  ASSERT_TRUE(plat::env_set(var, custom + plat::path_sep + plat::path_sep));
  EXPECT_EQ(plat::temp_dir(), custom);
  if (saved) {
    plat::env_set(var, *saved);
  } else {
    plat::env_unset(var);
  }
  plat::dir_delete_tree(custom);
}

// ---- several writers of one file ----------------------------------------------------------

// Waits, without sleeping, until names matching pattern number count in dir; false after a
// generous deadline (Wine on a loaded machine is slow).
bool wait_for_names(const std::string& dir, const std::string& pattern, size_t count) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  while (std::chrono::steady_clock::now() < end) {
    if (plat::dir_list(dir, pattern).size() >= count) return true;
    std::this_thread::yield();
  }
  return false;
}

constexpr int kRaceRounds = 100;
const char* const kRaceDirVar = "TAVRIN_RACE_DIR";

// Sizes from 4 KiB to 256 KiB, different for each round and writer, so that one save's write
// and flush take about as long as the other's whole save, or its wait before a retry.
std::string race_payload(uint32_t pid, int round) {
  size_t size = 4096u << ((pid + static_cast<uint32_t>(round) * 5u) % 7u);
  return std::to_string(pid) + ":" + std::to_string(round) + ":" + std::string(size, 'p');
}

// Runs this test program again with only the test filter given and waits for it: its exit code,
// or -1 when it could not be started.
int run_self(const std::string& filter) {
  const std::string exe = plat::exe_path();
  const std::string flag = "--gtest_filter=" + filter;
#ifdef _WIN32
  std::string line = "\"" + exe + "\" " + flag;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
#else
  std::vector<char*> argv = {const_cast<char*>(exe.c_str()), const_cast<char*>(flag.c_str()), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
}

// One of the two racing processes (started by the test below, skipped otherwise): saves round
// r of the shared folder's file r<r>.json, notes whether the save reported success, and waits
// for the other process to finish the same round before the next.
TEST(AtomicRace, Writer) {
  const char* dir_env = std::getenv(kRaceDirVar);
  if (!dir_env || !*dir_env) GTEST_SKIP() << "runs only as a child of AtomicRace.TwoProcessesSaveOneFile";
  const std::string dir = dir_env;
  const std::string me = std::to_string(plat::process_id());
  auto at = [&](const std::string& name) { return dir + plat::path_sep + name; };
  ASSERT_TRUE(plat::file_write(at("ready-" + me), ""));
  ASSERT_TRUE(wait_for_names(dir, "ready-*", 2));
  std::string results;
  std::mt19937 rng(plat::process_id());
  std::uniform_int_distribution<int> jitter(0, 10000);
  for (int r = 0; r < kRaceRounds; ++r) {
    const std::string round = std::to_string(r);
    // A different head start each round, so that every step of one save meets every step of
    // the other somewhere in the run (close, reopen, rename).
    auto go = std::chrono::steady_clock::now() + std::chrono::microseconds(jitter(rng));
    while (std::chrono::steady_clock::now() < go) {
    }
    bool ok = plat::file_replace_atomic(at("r" + round + ".json"), race_payload(plat::process_id(), r));
    results += round + (ok ? " 1\n" : " 0\n");
    ASSERT_TRUE(plat::file_write(at("d" + round + "-" + me), ""));
    ASSERT_TRUE(wait_for_names(dir, "d" + round + "-*", 2)) << "round " << r;
  }
  ASSERT_TRUE(plat::file_write(at("result-" + me + ".txt"), results));
}

// Two processes save the same file at the same moment, round after round: every save that
// reports success left its own whole bytes, none reports success for the other's bytes, and
// a save that reports failure left nothing of its own.
TEST(AtomicRace, TwoProcessesSaveOneFile) {
  if (std::getenv(kRaceDirVar)) GTEST_SKIP() << "the child runs only the writer";
  std::string dir = plat::temp_dir() + plat::path_sep + "tavrin-race-" + random_hex();
  ASSERT_TRUE(plat::dir_create(dir));
  auto at = [&](const std::string& name) { return dir + plat::path_sep + name; };
  ASSERT_TRUE(plat::env_set(kRaceDirVar, dir));
  // Two copies of this test program, started at once, each running only the writer.
  int exit_codes[2] = {-1, -1};
  std::thread writers[2];
  for (int k = 0; k < 2; ++k)
    writers[k] = std::thread([&, k] { exit_codes[k] = run_self("AtomicRace.Writer"); });
  for (auto& t : writers) t.join();
  plat::env_unset(kRaceDirVar);
  for (int k = 0; k < 2; ++k) ASSERT_EQ(exit_codes[k], 0) << "writer " << k;

  // round -> pid -> reported success
  std::vector<std::vector<std::pair<uint32_t, bool>>> saves(kRaceRounds);
  auto files = plat::dir_list(dir, "result-*.txt");
  ASSERT_EQ(files.size(), 2u);
  for (const auto& f : files) {
    uint32_t pid = static_cast<uint32_t>(std::stoul(f.name.substr(7)));
    auto text = plat::file_read_all(at(f.name), 1 << 20);
    ASSERT_TRUE(text);
    size_t pos = 0;
    for (int r = 0; r < kRaceRounds; ++r) {
      size_t eol = text->find('\n', pos);
      ASSERT_NE(eol, std::string::npos);
      saves[r].push_back({pid, text->substr(pos, eol - pos) == std::to_string(r) + " 1"});
      pos = eol + 1;
    }
  }
  int contested = 0;
  for (int r = 0; r < kRaceRounds; ++r) {
    auto content = plat::file_read_all(at("r" + std::to_string(r) + ".json"), 4 << 20);
    ASSERT_TRUE(content) << "round " << r << ": no file although a save ran";
    int successes = 0;
    bool content_is_a_success = false;
    for (auto [pid, ok] : saves[r]) {
      successes += ok;
      if (*content == race_payload(pid, r)) {
        EXPECT_TRUE(ok) << "round " << r << ": the file holds the bytes of the save that failed";
        content_is_a_success = ok;
      }
    }
    EXPECT_GE(successes, 1) << "round " << r;
    EXPECT_TRUE(content_is_a_success) << "round " << r << ": the file holds no successful save whole";
    contested += successes == 1;
  }
  EXPECT_TRUE(plat::dir_list(dir, "*.tmp").empty());
  std::printf("rounds where one save lost the race: %d of %d\n", contested, kRaceRounds);
  plat::dir_delete_tree(dir);
}

#ifdef _WIN32
// Another writer of the same file that has opened the temporary name and not yet renamed it
// (a second save, stopped at the worst moment) keeps opening it, as fast as it can. Every
// save that reports success must have put its own bytes on the target, never the other's.
TEST_F(FsTest, SaveNeverMovesAnotherWritersBytesIntoPlace) {
  const std::string target = at("bank.json");
  const std::wstring tmp = std::filesystem::path(target + ".tmp").wstring();
  std::atomic<bool> done{false};
  std::atomic<int> squats{0};
  std::thread other([&] {
    while (!done) {
      HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE) continue;
      DWORD n = 0;
      WriteFile(h, "other writer", 12, &n, nullptr);
      CloseHandle(h);
      ++squats;
    }
  });
  int saved = 0, wrong = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  for (int i = 0; saved < 60 && std::chrono::steady_clock::now() < end; ++i) {
    const std::string mine = "save " + std::to_string(i);
    if (!plat::file_replace_atomic(target, mine)) continue;  // the other writer held the name
    ++saved;
    std::string now = read("bank.json");
    if (now != mine) ++wrong;
    EXPECT_EQ(now, mine) << "save " << i << " reported success for other bytes";
    if (wrong > 3) break;
  }
  done = true;
  other.join();
  EXPECT_EQ(saved, 60) << "saves that went through: " << saved << ", the other writer's opens: " << squats;
  DeleteFileW(tmp.c_str());
}

// A reader holding the target without delete sharing makes the replace wait for it, briefly,
// instead of failing the save.
TEST_F(FsTest, SaveWaitsForAReaderHoldingTheTarget) {
  ASSERT_TRUE(plat::file_write(at("held.json"), "old"));
  HANDLE reader = CreateFileA(at("held.json").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  std::atomic<bool> started{false};
  std::thread release([&] {
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the reader's own pace
    CloseHandle(reader);
  });
  started = true;
  bool saved = plat::file_replace_atomic(at("held.json"), "new");
  release.join();
  EXPECT_TRUE(saved);
  EXPECT_EQ(read("held.json"), saved ? "new" : "old");
  EXPECT_TRUE(names("*.tmp").empty());
}
#endif

bool under_wine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
  return false;
#endif
}

// Several openers of a day's log that does not exist yet: the file starts with its first
// bytes, exactly once, and every line comes after them.
TEST_F(FsTest, NewAppendFileStartsWithItsFirstBytesOnceWhateverOpensItAlongside) {
  const std::string bom = "\xEF\xBB\xBF";
  constexpr int kOpeners = 8;
  // Natively the race is narrow and needs many trials to show; under Wine a few suffice.
  const int trials = under_wine() ? 60 : 300;
  for (int trial = 0; trial < trials; ++trial) {
    const std::string path = at("day-" + std::to_string(trial) + ".log");
    std::atomic<int> ready{0};
    std::atomic<int> made{0};
    std::vector<std::thread> openers;
    for (int t = 0; t < kOpeners; ++t)
      openers.emplace_back([&, t] {
        ready.fetch_add(1);
        while (ready.load() < kOpeners) std::this_thread::yield();
        bool created = false;
        plat::append_file* f = plat::append_open(path, bom, &created);
        ASSERT_NE(f, nullptr);
        made += created;
        std::string line = "line " + std::to_string(t) + "\r\n";
        EXPECT_TRUE(plat::append_write(f, line.data(), line.size()));
        plat::append_close(f);
      });
    for (auto& t : openers) t.join();
    std::string text = read("day-" + std::to_string(trial) + ".log");
    ASSERT_EQ(text.substr(0, 3), bom) << "trial " << trial << ": " << text;
    EXPECT_EQ(text.find(bom, 1), std::string::npos) << "trial " << trial << ": a second mark";
    // Wine appends with a size query and a positioned write, so lines of openers writing at
    // the same moment may overwrite each other there; Windows and Linux append atomically.
    if (!under_wine()) {
      EXPECT_EQ(text.size(), 3u + kOpeners * 8u) << text;
    }
    EXPECT_EQ(made.load(), 1) << "trial " << trial;
  }
  // An existing file is appended to as it is.
  bool created = true;
  plat::append_file* f = plat::append_open(at("day-0.log"), bom, &created);
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(created);
  plat::append_close(f);
  EXPECT_EQ(read("day-0.log").find(bom, 1), std::string::npos);
  EXPECT_EQ(names("*.new").size() + names("*.log.*").size(), 0u);
}

}  // namespace

namespace {

// What the compile cache leans on: its private folder, a compiler told apart from its
// replacement, runnable copies of a program and renames that replace.
TEST_F(FsTest, CacheFolderIdentityExecutablesAndReplacingRenames) {
  const std::string cache = at("cache");
  EXPECT_TRUE(plat::dir_ensure_private(cache));
  EXPECT_TRUE(plat::dir_ensure_private(cache));  // there already: accepted as it is
  EXPECT_TRUE(plat::path_is_dir(cache));
  ASSERT_TRUE(plat::file_write(at("plain"), "x"));
  EXPECT_FALSE(plat::dir_ensure_private(at("plain")));  // a file in its place is refused
#ifndef _WIN32
  struct stat st;
  ASSERT_EQ(::stat(cache.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_TRUE(plat::dir_create(at("open")));  // 0755: others may enter, so not ours to use
  EXPECT_FALSE(plat::dir_ensure_private(at("open")));
  ASSERT_EQ(::symlink(cache.c_str(), at("link").c_str()), 0);
  EXPECT_FALSE(plat::dir_ensure_private(at("link")));
#endif

  ASSERT_TRUE(plat::file_write(at("tool"), "version 1"));
  const std::string first = plat::file_identity(at("tool"));
  EXPECT_FALSE(first.empty());
  EXPECT_EQ(plat::file_identity(at("tool")), first);
  EXPECT_EQ(plat::file_identity(at("missing")), "");
  EXPECT_EQ(plat::file_identity(cache), "");
  // A new file of the same size renamed onto the old one is another compiler.
  ASSERT_TRUE(plat::file_write(at("tool.new"), "version 2"));
  EXPECT_TRUE(plat::file_rename_replace(at("tool.new"), at("tool")));
  EXPECT_EQ(read("tool"), "version 2");
  EXPECT_FALSE(plat::path_exists(at("tool.new")));
  EXPECT_NE(plat::file_identity(at("tool")), first);
  EXPECT_FALSE(plat::file_rename_replace(at("tool.new"), at("tool")));

  ASSERT_TRUE(plat::file_write_executable(at("prog"), std::string("\x7f" "ELF\0rest", 9)));
  EXPECT_EQ(read("prog"), std::string("\x7f" "ELF\0rest", 9));
#ifndef _WIN32
  ASSERT_EQ(::stat(at("prog").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0100, 0100u);
#endif
}


#ifndef _WIN32
// What a learner's program can leave: chains of folders far deeper than any descriptor limit or
// small thread stack allows a recursive removal, folders without rights, files at the bottom.
// The removal runs on a 64 KiB stack with only a few descriptors to spare.
TEST_F(FsTest, DeleteTreeOfAnyDepthNeedsNeitherStackNorDescriptors) {
  struct shape {
    const char* what;
    int depth, width;  // a chain of depth folders, each holding width files and folders
    mode_t mode;       // of every folder in the chain
  };
  const shape shapes[] = {
      {"a deep chain", 20000, 0, 0700},
      {"a deep chain of folders without rights", 3000, 0, 0},
      {"a wide and deep tree", 400, 6, 0700},
  };
  for (const shape& sh : shapes) {
    const std::string tree = at("chain");
    ASSERT_TRUE(plat::dir_create(tree));
    int fd = open(tree.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (int level = 0; level < sh.depth; ++level) {
      for (int k = 0; k < sh.width; ++k) {
        const std::string name = "f" + std::to_string(k);
        close(openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        ASSERT_EQ(mkdirat(fd, ("s" + name).c_str(), 0700), 0);
        close(openat(fd, ("s" + name + "/x").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
      }
      ASSERT_EQ(mkdirat(fd, "d", 0700), 0) << level;
      int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ASSERT_GE(next, 0) << level;
      close(fd);
      fd = next;
    }
    close(openat(fd, "planted.bin", O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    close(fd);
    if (sh.mode != 0700) {  // from the bottom up, so that the chain stays walkable while set
      std::string path = tree;
      std::vector<std::string> paths;
      for (int level = 0; level < sh.depth; ++level) paths.push_back(path += "/d");
      for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
        int parent = open((it->substr(0, it->size() - 2)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (parent < 0) break;  // the path itself is longer than the system takes: keep the rest
        fchmodat(parent, "d", sh.mode, 0);
        close(parent);
      }
    }
    struct job {
      std::string tree;
      bool removed = false;
    } j{tree};
    // Few descriptors above those open now.
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    int highest = 0;
    for (int probe = 0; probe < 4096; ++probe)
      if (fcntl(probe, F_GETFD) >= 0) highest = probe;
    struct rlimit tight{rlim_t(highest + 6), old.rlim_max};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 64 * 1024);
    pthread_t thread;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const int started = pthread_create(
        &thread, &attr,
        [](void* arg) -> void* {
          auto* w = static_cast<job*>(arg);
          w->removed = plat::dir_delete_tree(w->tree);
          return nullptr;
        },
        &j);
    if (started == 0) pthread_join(thread, nullptr);
    setrlimit(RLIMIT_NOFILE, &old);
    pthread_attr_destroy(&attr);
    ASSERT_EQ(started, 0);
    EXPECT_TRUE(j.removed) << sh.what;
    EXPECT_FALSE(plat::path_exists(tree)) << sh.what;
  }
}
#endif

}  // namespace
