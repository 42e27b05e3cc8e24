// The compile cache with the real compiler: repeats reuse the program, anything that changes the
// compile misses, damaged or altered entries are rebuilt, the bounds hold and racing compiles
// leave whole entries.
#include <gtest/gtest.h>

#include "support.h"
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "json/json.h"
#include "json/text_buffer.h"
#include "judge/compile_cache.h"
#include "judge/judge.h"
#include "judge/judge_internal.h"
#include "log/log.h"
#include "platform/fs.h"
#include "platform/proc.h"
#include "platform/sys.h"
#include "store/store.h"


namespace fs = std::filesystem;

namespace {

const bool windows_lane = plat::path_sep == '\\';
const char* const hit_line = "编译结果取自缓存";

void spill(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string request(const std::string& id, const std::string& code, const char* lang = nullptr) {
  text_buffer b{};
  b_add(&b, "{\"id\":");
  b_json(&b, id.c_str());
  b_add(&b, ",\"code\":");
  b_json(&b, code.c_str());
  if (lang) b_fmt(&b, ",\"lang\":\"%s\"", lang);
  b_add(&b, "}");
  char* s = b_release(&b);
  std::string out = s;
  std::free(s);
  return out;
}

std::string field(const std::string& answer, const char* key) {
  json_doc doc;
  json_parse(&doc, answer.c_str());
  char* s = j_str(&doc, j_get(&doc, 0, key));
  std::string out = s ? s : "<none>";
  std::free(s);
  json_free(&doc);
  return out;
}

// The answer without its timings, which are the one thing a repeat may change.
std::string untimed(const std::string& answer) {
  return std::regex_replace(answer, std::regex("\"(compileMs|ms)\":[0-9]+"), "\"$1\":_");
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A program that prints word, with one warning so the diagnostics are not empty.
std::string program(const std::string& word) {
  return "#include <stdio.h>\nint main(void) { int unused; printf(\"" + word + "\\n\"); return 0; }\n";
}

std::vector<std::string> entries(const std::string& folder, const char* ending) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.size() >= std::strlen(ending) &&
        name.compare(name.size() - std::strlen(ending), std::string::npos, ending) == 0)
      out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

class CacheTest : public ::testing::Test {
 protected:
  static inline std::string root, temp;
  size_t log_mark = 0;

  static void SetUpTestSuite() {
    std::string base = fs::temp_directory_path().string() + "/tav-cache-" +
                       std::to_string(plat::process_id());
    fs::remove_all(base);
    root = base + "/app";
    temp = base + "/tmp";
    fs::create_directories(root + "/data");
    fs::create_directories(temp);
    std::ofstream(root + "/data/bank.json", std::ios::binary)
        << slurp(std::string(TAVRIN_SOURCE_DIR) + "/tests/fixtures/judge/bank.json");
    plat::env_set("TMPDIR", temp);
    app_root = root;
    log_init();
  }
  static void TearDownTestSuite() {
    log_shutdown("test");
    compile_cache_configure({});
    fs::remove_all(fs::path(root).parent_path());
  }
  void SetUp() override {
    if (windows_lane) GTEST_SKIP() << "no Windows GCC toolchain runs under Wine here";
    gcc_path = "/usr/bin/gcc";
    gpp_path = "/usr/bin/g++";
    compile_cache_configure({});
    fs::remove_all(cache());
    log_mark = log_now().size();
  }
  void TearDown() override {
    if (windows_lane) return;
    EXPECT_EQ(judging.load(), 0);
    // Only whole entries stay, in a folder no one else may enter.
    EXPECT_EQ(entries(cache(), ".tmp"), std::vector<std::string>{});
#ifndef _WIN32
    struct stat st;
    if (::lstat(cache().c_str(), &st) == 0) {
      EXPECT_TRUE(S_ISDIR(st.st_mode));
      EXPECT_EQ(st.st_mode & 077, 0u);
    }
#endif
  }
  static std::string cache() { return compile_cache_folder(); }
  std::string log_now() {
    std::string all;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(root + "/logs", ec)) all += slurp(e.path().string());
    return all;
  }
  std::string new_log() { return log_now().substr(log_mark); }
  // Judges body; hit tells whether the compile came from the cache (by its one log line).
  std::string judge(const std::string& body, bool* hit = nullptr) {
    const size_t before = count(log_now(), hit_line);
    char* answer = judge_code(body.c_str());
    EXPECT_NE(answer, nullptr);
    std::string text = answer ? answer : "";
    std::free(answer);
    const size_t after = count(log_now(), hit_line);
    EXPECT_LE(after - before, 1u);
    if (hit) *hit = after > before;
    return text;
  }
};

TEST_F(CacheTest, RepeatHitsWithTheSameVerdictAndDiagnostics) {
  bool hit = true;
  const std::string first = judge(request("hello", program("Hello, World!")), &hit);
  EXPECT_FALSE(hit);
  EXPECT_EQ(field(first, "status"), "accepted") << first.substr(0, 400);
  EXPECT_NE(field(first, "diagnostics").find("unused"), std::string::npos);
  ASSERT_EQ(entries(cache(), ".bin").size(), 1u);

  const std::string again = judge(request("hello", program("Hello, World!")), &hit);
  EXPECT_TRUE(hit);
  EXPECT_EQ(untimed(again), untimed(first));
  EXPECT_EQ(field(again, "diagnostics"), field(first, "diagnostics"));
  EXPECT_NE(new_log().find("评测 hello | 编译成功"), std::string::npos);

  // The run-only mode shares the cache: same compile line, same entry.
  char* ran = judge_run(request("x", program("Hello, World!")).c_str());
  ASSERT_NE(ran, nullptr);
  EXPECT_NE(std::string(ran).find("\"output\":\"Hello, World!\\u000a\""), std::string::npos) << ran;
  std::free(ran);
  EXPECT_NE(new_log().find("自测 | 编译结果取自缓存"), std::string::npos);
  EXPECT_EQ(entries(cache(), ".bin").size(), 1u);

  // A failed compile is not kept: its repeat compiles again and reports the same.
  const std::string broken = "int main(void) { return x; }\n";
  const std::string failed = judge(request("hello", broken), &hit);
  EXPECT_FALSE(hit);
  EXPECT_EQ(field(failed, "status"), "compile_error");
  EXPECT_EQ(untimed(judge(request("hello", broken), &hit)), untimed(failed));
  EXPECT_FALSE(hit);
}

TEST_F(CacheTest, ChangedSourceLanguageOrCompilerMisses) {
  // A shell wrapper stands in for the compiler so it can be replaced at the same path.
  const std::string bin = root + "/wrap";
  fs::create_directories(bin);
  const std::string wrapper = bin + "/gcc";
  const std::string script = "#!/bin/sh\nexec /usr/bin/gcc \"$@\"\n";
  spill(wrapper, script);
  fs::permissions(wrapper, fs::perms::owner_all);
  gcc_path = wrapper;

  bool hit = false;
  const std::string code = program("Hello, World!");
  judge(request("hello", code), &hit);
  EXPECT_FALSE(hit);
  judge(request("hello", code), &hit);
  ASSERT_TRUE(hit) << new_log();

  struct row {
    const char* what;
    std::function<std::string()> change;  // returns the request body
  };
  std::string changed = code;
  changed[changed.find("World")] = 'w';
  const std::vector<row> rows = {
      {"one byte of the source", [&] { return request("hello", changed); }},
      {"the language", [&] { return request("hello", code, "cpp"); }},
      {"the compiler replaced by a new file at the same path, same size",
       [&] {
         spill(bin + "/gcc.new", script);
         fs::permissions(bin + "/gcc.new", fs::perms::owner_all);
         fs::rename(bin + "/gcc.new", wrapper);
         return request("hello", code);
       }},
      {"the compiler rewritten in place",
       [&] {
         spill(wrapper, "#!/bin/sh\n# rebuilt\nexec /usr/bin/gcc \"$@\"\n");
         return request("hello", code);
       }},
  };
  for (const row& r : rows) {
    const std::string body = r.change();
    const std::string answer = judge(body, &hit);
    EXPECT_FALSE(hit) << r.what;
    EXPECT_EQ(field(answer, "compiled"), "<none>") << r.what;
    EXPECT_NE(answer.find("\"compiled\":true"), std::string::npos) << r.what << answer.substr(0, 300);
    judge(body, &hit);  // and the new compile is reused in turn
    EXPECT_TRUE(hit) << r.what;
  }
}

TEST_F(CacheTest, DamagedOrAlteredEntriesAreRebuiltNeverRun) {
  const std::string code = program("Hello, World!");
  const std::string other = program("Goodbye");
  bool hit = false;
  judge(request("hello", code));
  ASSERT_EQ(entries(cache(), ".bin").size(), 1u);
  const std::string entry = entries(cache(), ".bin")[0];
  const std::string good = slurp(entry);
  judge(request("hello", other));
  std::string other_entry;
  for (const std::string& e : entries(cache(), ".bin"))
    if (e != entry) other_entry = e;
  ASSERT_FALSE(other_entry.empty());

  struct row {
    const char* what;
    std::function<void()> harm;
  };
  const std::vector<row> rows = {
      {"a byte of the program flipped", [&] {
         std::string b = good;
         b[b.size() - 100] ^= 0x20;
         spill(entry, b);
       }},
      {"a byte of the diagnostics changed", [&] {
         std::string b = good;
         const size_t at = b.find("unused");
         ASSERT_NE(at, std::string::npos);
         b[at] = 'U';
         spill(entry, b);
       }},
      {"cut short", [&] { spill(entry, good.substr(0, good.size() / 2)); }},
      {"empty", [&] { spill(entry, ""); }},
      {"a longer program behind the same head", [&] { spill(entry, good + "extra"); }},
      {"another code's entry put in its place", [&] { fs::copy_file(other_entry, entry, fs::copy_options::overwrite_existing); }},
      {"a program put there by hand, its digest recomputed", [&] {
         // Whoever writes there cannot seal it: the seal's key never leaves the program.
         std::string b = slurp(other_entry);
         spill(entry, b.substr(0, b.find('\n') + 1) + std::string(32, 'x') + b.substr(b.find('\n') + 33));
       }},
  };
  for (const row& r : rows) {
    r.harm();
    const size_t before = count(log_now(), "已损坏或被改动");
    const std::string answer = judge(request("hello", code), &hit);
    EXPECT_FALSE(hit) << r.what;
    EXPECT_EQ(field(answer, "status"), "accepted") << r.what << answer.substr(0, 400);
    EXPECT_EQ(count(log_now(), "已损坏或被改动"), before + 1) << r.what;
    // Rebuilt: the entry is whole again and used on the next repeat.
    judge(request("hello", code), &hit);
    EXPECT_TRUE(hit) << r.what;
  }
  // An entry of an earlier run of the program (another run tag, sealed under another key) is
  // compiled anew without a complaint: a restart is not damage.
  std::string earlier = slurp(entry);
  earlier.replace(earlier.find(' ') + 1, 16, std::string(16, '0'));
  spill(entry, earlier);
  const size_t before = count(log_now(), "已损坏或被改动");
  EXPECT_EQ(field(judge(request("hello", code), &hit), "status"), "accepted");
  EXPECT_FALSE(hit);
  EXPECT_EQ(count(log_now(), "已损坏或被改动"), before);
  judge(request("hello", code), &hit);
  EXPECT_TRUE(hit);
}

TEST_F(CacheTest, FullCacheDropsTheLeastRecentlyUsed) {
  compile_cache_limits limits;
  limits.max_entries = 2;
  compile_cache_configure(limits);
  bool hit = false;
  const std::string a = request("hello", program("A")), b = request("hello", program("B")),
                    c = request("hello", program("C"));
  judge(a);
  judge(b);
  judge(a, &hit);  // a is used again: b is now the oldest
  EXPECT_TRUE(hit);
  judge(c);
  EXPECT_EQ(entries(cache(), ".bin").size(), 2u);
  judge(a, &hit);
  EXPECT_TRUE(hit);
  judge(c, &hit);
  EXPECT_TRUE(hit);
  judge(b, &hit);
  EXPECT_FALSE(hit) << "the least recently used entry should have gone";

  // The byte bound: room for one entry only.
  const uint64_t one = fs::file_size(entries(cache(), ".bin")[0]);
  limits.max_entries = 64;
  limits.max_bytes = one + one / 2;
  compile_cache_configure(limits);
  judge(request("hello", program("D")));
  EXPECT_EQ(entries(cache(), ".bin").size(), 1u);
  judge(request("hello", program("D")), &hit);
  EXPECT_TRUE(hit);
}

TEST_F(CacheTest, RacingCompilesLeaveWholeEntries) {
  // Two submissions at once through the judge: one runs, the other is told to wait.
  {
    std::string answers[2];
    std::thread t0([&] { answers[0] = judge(request("hello", program("Hello, World!"))); });
    std::thread t1([&] { answers[1] = judge(request("hello", program("Hello, World!"))); });
    t0.join();
    t1.join();
    for (const std::string& a : answers)
      EXPECT_TRUE(field(a, "status") == "accepted" ||
                  field(a, "error") == "已有代码正在评测，请等待本次完成。")
          << a.substr(0, 300);
  }
  // Compiles that nothing serialises (another copy of the program, say) racing on one entry.
  constexpr int racers = 4;
  std::vector<std::thread> threads;
  std::atomic<int> ready{0};
  std::vector<compile_outcome> outcomes(racers);
  std::vector<plat::run_files> files(racers);
  const std::string code = program("raced");
  for (int k = 0; k < racers; ++k) {
    threads.emplace_back([&, k] {
      const std::string dir = temp + "/race-" + std::to_string(k);
      fs::create_directories(dir);
      spill(dir + "/solution.c", code);
      EXPECT_TRUE(files[k].create(dir + "/stdin.txt", dir + "/output.txt")) << k;
      ready.fetch_add(1);
      while (ready.load() < racers) std::this_thread::yield();
      outcomes[k] = compile_with_cache(
          gcc_path, "\"" + gcc_path + "\" -std=c99 -Wall solution.c -o solution.exe", code.c_str(),
          dir, dir + "/solution.exe", files[k], 20000);
    });
  }
  for (auto& t : threads) t.join();
  for (int k = 0; k < racers; ++k) {
    const std::string dir = temp + "/race-" + std::to_string(k);
    EXPECT_EQ(outcomes[k].result.exit_code, 0u) << k;
    EXPECT_EQ(outcomes[k].result.started, 1u) << k;
    EXPECT_NE(std::string(outcomes[k].diagnostics).find("unused"), std::string::npos) << k;
    std::free(outcomes[k].diagnostics);
    const plat::run_result r =
        plat::process_run_limited("\"" + dir + "/solution.exe\"", dir, files[k], 5000, false);
    EXPECT_EQ(r.exit_code, 0u) << k;
    EXPECT_EQ(files[k].output_head(100).value_or(""), "raced\n") << k;
    files[k].close();
    fs::remove_all(dir);
  }
  // Every entry left is whole: each one reads back without a complaint.
  const size_t complaints = count(log_now(), "已损坏或被改动");
  for (const std::string& e : entries(cache(), ".bin")) {
    const std::string key = fs::path(e).stem().string();
    std::string diag;
    const std::string exe = temp + "/check.exe";
    EXPECT_TRUE(compile_cache_fetch(key, exe, &diag)) << e;
    fs::remove(exe);
  }
  EXPECT_EQ(count(log_now(), "已损坏或被改动"), complaints);
  EXPECT_EQ(entries(cache(), ".bin").size(), 2u);
}

#ifndef _WIN32
TEST_F(CacheTest, ANameHeldBySomebodyElseNeitherTurnsTheCacheOffNorIsUsed) {
  // The temporary folder is shared on Linux: another user may take the usual name first.
  const std::string usual = temp + "/Mesk-cache" + plat::temp_user_suffix();
  const std::string decoy = temp + "/decoy";
  const struct {
    const char* what;
    std::function<void()> hold;
  } holders[] = {
      {"a link to a folder of theirs", [&] { fs::create_symlink(decoy, usual); }},
      {"a folder others may enter", [&] { fs::create_directory(usual); ::chmod(usual.c_str(), 0777); }},
      {"a file", [&] { std::ofstream(usual) << "x"; }},
  };
  for (const auto& holder : holders) {
    SCOPED_TRACE(holder.what);
    fs::remove_all(usual);
    fs::remove_all(decoy);
    fs::create_directory(decoy);
    ::chmod(decoy.c_str(), 0777);
    holder.hold();
    compile_cache_configure({});  // a new run: the folder is chosen again

    bool hit = true;
    const std::string first = judge(request("hello", program("Hello, World!")), &hit);
    EXPECT_FALSE(hit);
    EXPECT_EQ(field(first, "status"), "accepted") << first.substr(0, 300);
    judge(request("hello", program("Hello, World!")), &hit);
    EXPECT_TRUE(hit) << "the cache must keep working";

    const std::string own = cache();
    EXPECT_NE(own, usual);
    EXPECT_EQ(own.rfind(usual + "-", 0), 0u) << own;
    EXPECT_EQ(entries(own, ".bin").size(), 1u);
    EXPECT_EQ(entries(decoy, ".bin"), std::vector<std::string>{}) << "nothing goes into their folder";
    EXPECT_NE(new_log().find("不属于当前用户"), std::string::npos);

    // The run's own folder goes at the end; what the other user holds is left alone.
    compile_cache_end();
    EXPECT_FALSE(fs::exists(own));
    EXPECT_TRUE(fs::exists(fs::symlink_status(usual)));
    fs::remove_all(usual);
    compile_cache_configure({});
  }
  fs::remove_all(decoy);
}
#endif

}  // namespace
