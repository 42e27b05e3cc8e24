// Running out of memory on the store's paths that have a failure result: a read gives nothing,
// a validation never answers "valid" for a bank it could not check, and nothing is thrown.
// Allocations fail on purpose here: every operator new of this program, and on Linux also
// every malloc/calloc/realloc of the program's own code (linked with --wrap).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include "store/store.h"

#if defined(__linux__)
#define TAVRIN_WRAPS_MALLOC 1
#include <sys/wait.h>
extern "C" void* __real_malloc(size_t);
extern "C" void* __real_calloc(size_t, size_t);
extern "C" void* __real_realloc(void*, size_t);
#endif

namespace {

// Armed: the allocation numbered fail_index (counted from arming) fails, and so does every
// allocation of fail_size bytes or more.
bool armed = false;
long long counted = 0;
long long fail_index = -1;
size_t fail_size = SIZE_MAX;

bool should_fail(size_t n) {
  if (!armed) return false;
  return counted++ == fail_index || n >= fail_size;
}

void arm(long long index, size_t size = SIZE_MAX) {
  counted = 0;
  fail_index = index;
  fail_size = size;
  armed = true;
}
// Allocations counted while armed.
long long disarm() {
  armed = false;
  return counted;
}

void* raw_alloc(size_t n) {
#ifdef TAVRIN_WRAPS_MALLOC
  return __real_malloc(n ? n : 1);
#else
  return std::malloc(n ? n : 1);
#endif
}

}  // namespace

#ifdef TAVRIN_WRAPS_MALLOC
extern "C" void* __wrap_malloc(size_t n) { return should_fail(n) ? nullptr : __real_malloc(n); }
extern "C" void* __wrap_calloc(size_t k, size_t n) {
  return should_fail(k * n) ? nullptr : __real_calloc(k, n);
}
extern "C" void* __wrap_realloc(void* p, size_t n) { return should_fail(n) ? nullptr : __real_realloc(p, n); }
#endif

// The replacements pair with each other: blocks come from malloc and go back to free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
  void* p = should_fail(n) ? nullptr : raw_alloc(n);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return should_fail(n) ? nullptr : raw_alloc(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return should_fail(n) ? nullptr : raw_alloc(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

namespace fs = std::filesystem;

class StoreOom : public ::testing::Test {
 protected:
  fs::path dir;
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("tavrin-oom-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
    return (dir / name).string();
  }
};

TEST_F(StoreOom, FileTooLargeForTheMemoryLeftReadsAsNothing) {
  std::string big(1 << 20, 'x');
  std::string path = write("big.json", big);
  char* text = nullptr;
  arm(-1, 512 * 1024);  // nothing of half a mebibyte or more can be had
  EXPECT_NO_THROW(text = read_utf8(path, store_file_limit));
  disarm();
#ifdef TAVRIN_WRAPS_MALLOC
  EXPECT_EQ(text, nullptr);
#else
  if (text) {
    EXPECT_EQ(std::string(text), big);  // the C runtime's malloc is not ours to fail here
  }
#endif
  std::free(text);
}

// Each allocation of a read fails in turn: the result is the whole text or nothing.
TEST_F(StoreOom, EveryAllocationOfAReadMayFail) {
  std::string path = write("bank.json", "\xEF\xBB\xBF{\"version\":1}");
  for (long long k = 0;; ++k) {
    char* text = nullptr;
    arm(k);
    EXPECT_NO_THROW(text = read_utf8(path, store_file_limit)) << "allocation " << k;
    long long used = disarm();
    if (text) {
      EXPECT_STREQ(text, "{\"version\":1}") << "allocation " << k;
    }
    std::free(text);
    if (k >= used) break;  // this run had no allocation left to fail
  }
}

// A save whose allocations fail reports failure and leaves the file as it was.
TEST_F(StoreOom, EveryAllocationOfASaveMayFail) {
  std::string path = write("state.json", "old");
  for (long long k = 0;; ++k) {
    int ok = -1;
    arm(k);
    EXPECT_NO_THROW(ok = write_atomic(path, "new")) << "allocation " << k;
    long long used = disarm();
    std::ifstream in(path, std::ios::binary);
    std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(now, ok == 1 ? "new" : "old") << "allocation " << k;
    if (ok == 1) {
      write("state.json", "old");
    }
    if (k >= used) break;
  }
}

#ifdef TAVRIN_WRAPS_MALLOC
// Each allocation of a validation fails in turn, in a child process: an invalid bank is never
// reported valid, nothing is thrown; the only other way out is the program's out-of-memory end
// (exit code 2).
TEST_F(StoreOom, ValidationNeverCallsAnInvalidBankValid) {
  const char* invalid[] = {
      "{\"version\":1,\"questions\":[",  // not JSON
      "{\"version\":2,\"questions\":[]}",
      // the second question repeats the first one's id
      "{\"version\":1,\"questions\":[{\"id\":\"a\",\"topic\":1,\"stars\":1,\"compare\":\"tokens\","
      "\"title\":\"t\",\"scenario\":\"s\",\"task\":\"t\",\"input\":\"i\",\"output\":\"o\",\"constraints\":\"c\","
      "\"starter\":\"s\",\"reference\":\"r\",\"samples\":[{\"input\":\"\",\"output\":\"\"}],"
      "\"tests\":[{\"input\":\"\",\"output\":\"\"},{\"input\":\"\",\"output\":\"\"},{\"input\":\"\",\"output\":\"\"}]},"
      "{\"id\":\"a\",\"topic\":1,\"stars\":1,\"compare\":\"tokens\","
      "\"title\":\"t\",\"scenario\":\"s\",\"task\":\"t\",\"input\":\"i\",\"output\":\"o\",\"constraints\":\"c\","
      "\"starter\":\"s\",\"reference\":\"r\",\"samples\":[{\"input\":\"\",\"output\":\"\"}],"
      "\"tests\":[{\"input\":\"\",\"output\":\"\"},{\"input\":\"\",\"output\":\"\"},{\"input\":\"\",\"output\":\"\"}]}]}",
  };
  for (const char* bank : invalid) {
    // How many allocations one validation makes, to know where to stop.
    arm(-1);
    char* message = bank_validate(bank);
    long long used = disarm();
    ASSERT_NE(message, nullptr);
    std::free(message);
    for (long long k = 0; k <= used; ++k) {
      std::fflush(nullptr);
      pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        arm(k);
        int code = 4;  // something was thrown
        try {
          char* m = bank_validate(bank);
          disarm();
          code = m ? 0 : 1;  // 1: a failure turned into success
        } catch (...) {
        }
        std::_Exit(code);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status)) << "allocation " << k << " of " << used << ": killed by signal "
                                     << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
      int code = WEXITSTATUS(status);
      EXPECT_TRUE(code == 0 || code == 2)
          << "allocation " << k << " of " << used << ": exit " << code
          << (code == 1 ? " (reported valid)" : code == 4 ? " (threw)" : "") << " for " << std::string(bank).substr(0, 40);
    }
  }
}
#endif

}  // namespace
