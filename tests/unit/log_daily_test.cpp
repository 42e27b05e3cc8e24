// The daily log: file per day with BOM, line format and cut, roll-over, clean-up, banners.
#include <gtest/gtest.h>

#include "support.h"
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "log/log_hooks.h"
#include "platform/fs.h"
#include "platform/sys.h"

extern std::string app_root;

namespace {

namespace fs = std::filesystem;

plat::local_time fake_now = {2026, 10, 18, 22, 10, 3, 42};
plat::local_time fake_clock() { return fake_now; }
int64_t fake_filetime = 0;
int64_t fake_filetime_now() { return fake_filetime; }

constexpr int64_t day_units = 864000000000LL;
const std::string bom = "\xEF\xBB\xBF";

// Read beside the open log (the store's reader refuses files open for writing on Windows).
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = text.compare(0, 3, bom) == 0 ? 3 : 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      out.push_back(text.substr(pos) + "<no CR LF>");
      break;
    }
    out.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return out;
}

class DailyLog : public ::testing::Test {
 protected:
  std::string root;

  void SetUp() override {
    uint32_t r = 0;
    plat::random_bytes(&r, sizeof r);
    root = plat::temp_dir() + plat::path_sep + "tav-log-" + std::to_string(r);
    ASSERT_TRUE(plat::dir_create(root));
    app_root = root;
    fake_now = {2026, 10, 18, 22, 10, 3, 42};
    fake_filetime = plat::time_now_filetime();
    log_clock = fake_clock;
    log_now_filetime = fake_filetime_now;
  }
  void TearDown() override {
    log_shutdown("test end");
    log_clock = plat::time_local;
    log_now_filetime = plat::time_now_filetime;
    plat::dir_delete_tree(root);
  }
  std::string logs() const { return root + plat::path_sep + "logs"; }
  std::string day_file(const char* name) const { return logs() + plat::path_sep + name; }
};

TEST_F(DailyLog, StartWritesBomBannerAndPaths) {
  log_init();
  EXPECT_EQ(log_dir, logs());
  std::string today = day_file("Tavrin-2026-10-18.log");
  EXPECT_EQ(log_name(20261018), today);
  std::string text = slurp(today);
  ASSERT_EQ(text.compare(0, 3, bom), 0);
  auto lines = lines_of(text);
  ASSERT_EQ(lines.size(), 3u);
  const std::string prefix = "2026-10-18 22:10:03.042 [I] ";
  std::regex banner(R"(2026-10-18 22:10:03\.042 \[I\] )" "===== Tavrin 1\\.6\\.2 · Qy9 启动（编译于 [A-Z][a-z]{2} [ 0-9]\\d \\d{4} "
                             "\\d\\d:\\d\\d:\\d\\d）=====");
  EXPECT_TRUE(std::regex_match(lines[0], banner)) << lines[0];
  EXPECT_EQ(lines[1], prefix + "程序目录: " + root);
  EXPECT_EQ(lines[2], prefix + "日志文件: " + today);
}

TEST_F(DailyLog, LineFormatAndLevels) {
  log_init();
  fake_now = {2027, 1, 2, 3, 4, 5, 6};
  log_write("W", "count %d of %s", 7, "题目");
  log_write("E", "%s", "100% sure");
  log_wide("I", "路径: ", "/tmp/测试");
  auto lines = lines_of(slurp(day_file("Tavrin-2027-01-02.log")));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "2027-01-02 03:04:05.006 [W] count 7 of 题目");
  EXPECT_EQ(lines[1], "2027-01-02 03:04:05.006 [E] 100% sure");
  EXPECT_EQ(lines[2], "2027-01-02 03:04:05.006 [I] 路径: /tmp/测试");
}

TEST_F(DailyLog, LongLinesAreCutAt4092Bytes) {
  log_init();
  fake_now = {2026, 10, 19, 0, 0, 0, 0};
  const size_t prefix = std::string("2026-10-19 00:00:00.000 [I] ").size();
  const size_t room = log_line_max - prefix;
  const size_t lengths[] = {0, 1, room - 1, room, room + 1, room + 2, 20000};
  std::string expected;
  for (size_t n : lengths) {
    std::string message(n, 'x');
    if (n > 0) message.back() = 'y';
    log_write("I", "%s", message.c_str());
    std::string line = "2026-10-19 00:00:00.000 [I] " + message;
    if (line.size() > static_cast<size_t>(log_line_max)) line.resize(log_line_max);
    expected += line + "\r\n";
  }
  // A cut may fall inside a character; the bytes before it are kept as they are.
  std::string chinese;
  for (size_t i = 0; i < room; i += 3) chinese += "中";
  chinese += "中";
  log_write("I", "%s", chinese.c_str());
  expected += ("2026-10-19 00:00:00.000 [I] " + chinese).substr(0, log_line_max) + "\r\n";
  EXPECT_EQ(slurp(day_file("Tavrin-2026-10-19.log")), bom + expected);
}

TEST_F(DailyLog, NoLineHoldsTheSecretAndTheFilesArePrivate) {
  log_init();
  fake_now = {2027, 3, 4, 5, 6, 7, 8};
  const std::string secret = "0123456789abcdef0123456789abcdef0123456789abcdef";
  log_secret(secret);
  const std::string prefix = "2027-03-04 05:06:07.008 [I] ";
  const size_t room = log_line_max - prefix.size();
  struct row {
    std::string message, kept;
  };
  const row rows[] = {
      {"plain line", "plain line"},
      {"url http://127.0.0.1:1/#token=" + secret + " tail", "url http://127.0.0.1:1/#token="},
      {secret, ""},
      {"twice " + secret + secret, "twice "},
      {"most of it " + secret.substr(0, 40), "most of it " + secret.substr(0, 40)},
      // the line's end cuts the secret: the start of it that fits goes too
      {std::string(room - 20, 'x') + secret, std::string(room - 20, 'x')},
  };
  for (const row& r : rows) log_write("I", "%s", r.message.c_str());
  log_secret("");
  const auto lines = lines_of(slurp(day_file("Tavrin-2027-03-04.log")));
  ASSERT_EQ(lines.size(), std::size(rows));
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], prefix + rows[i].kept) << i;
#ifndef _WIN32
  struct stat st;
  ASSERT_EQ(stat(logs().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(day_file("Tavrin-2027-03-04.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

TEST_F(DailyLog, BomOnlyOnNewFiles) {
  plat::dir_create(logs());
  std::string existing = day_file("Tavrin-2026-10-18.log");
  ASSERT_TRUE(plat::file_write(existing, "earlier\r\n"));
  log_init();
  std::string text = slurp(existing);
  EXPECT_EQ(text.compare(0, 9, "earlier\r\n"), 0);
  EXPECT_EQ(text.find(bom), std::string::npos);
}

TEST_F(DailyLog, DayRollOverForwardAndBack) {
  log_init();
  std::string day1 = day_file("Tavrin-2026-10-18.log");
  std::string day2 = day_file("Tavrin-2026-10-19.log");
  log_write("I", "before midnight");
  fake_now = {2026, 10, 19, 0, 0, 0, 1};
  log_write("I", "after midnight");
  std::string day1_text = slurp(day1);
  EXPECT_NE(day1_text.find("before midnight"), std::string::npos);
  EXPECT_EQ(day1_text.find("after midnight"), std::string::npos);
  EXPECT_EQ(day1_text.find("退出"), std::string::npos);  // no closing banner on roll-over
  EXPECT_EQ(slurp(day2), bom + "2026-10-19 00:00:00.001 [I] after midnight\r\n");
  // The clock moves back: lines go to the earlier day's file again, without a second BOM.
  fake_now = {2026, 10, 18, 23, 59, 59, 999};
  log_write("W", "clock went back");
  std::string again = slurp(day1);
  EXPECT_EQ(again.substr(0, day1_text.size()), day1_text);
  EXPECT_EQ(again.substr(day1_text.size()), "2026-10-18 23:59:59.999 [W] clock went back\r\n");
}

TEST_F(DailyLog, CleanUpKeepsThirtyDaysAndOnlyTouchesLogFiles) {
  ASSERT_TRUE(plat::dir_create(logs()));
  const int64_t limit = fake_filetime - 30 * day_units;
  struct entry {
    const char* name;
    bool folder;
    int64_t write_time;
    bool kept;
  };
  const entry entries[] = {
      {"Tavrin-2026-01-01.log", false, limit, true},       // exactly 30 days old
      {"Tavrin-2026-01-02.log", false, limit - 1, false},  // a moment older
      {"Tavrin-2025-01-01.log", false, limit - 400 * day_units, false},
      {"Tavrin-2026-09-30.log", false, limit + day_units, true},
      {"Tavrin-folder.log", true, limit - day_units, true},  // folders are never deleted
      {"other.log", false, limit - day_units, true},
      {"Tavrin-2025-01-01.txt", false, limit - day_units, true},
      {"tavrin-2025-01-01.log.bak", false, limit - day_units, true},
  };
  for (const entry& e : entries) {
    std::string path = day_file(e.name);
    ASSERT_TRUE(e.folder ? plat::dir_create(path) : plat::file_write(path, "x"));
    ASSERT_TRUE(plat::file_set_write_time(path, e.write_time)) << e.name;
  }
  log_init();
  for (const entry& e : entries) EXPECT_EQ(plat::path_exists(day_file(e.name)), e.kept) << e.name;
  EXPECT_TRUE(plat::path_exists(day_file("Tavrin-2026-10-18.log")));
}

TEST_F(DailyLog, OffBeforeInitAfterShutdownAndWithoutFolder) {
  log_write("I", "before init");
  EXPECT_FALSE(plat::path_exists(logs()));
  log_init();
  log_shutdown("窗口关闭，正常退出；本次运行 5 秒");
  log_write("I", "after shutdown");
  log_shutdown("twice");
  auto lines = lines_of(slurp(day_file("Tavrin-2026-10-18.log")));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "2026-10-18 22:10:03.042 [I] ===== Tavrin 退出：窗口关闭，正常退出；本次运行 5 秒 =====");

  // A file where the folder should be: logging stays off and nothing fails.
  plat::dir_delete_tree(logs());
  ASSERT_TRUE(plat::file_write(logs(), "not a folder"));
  log_init();
  log_write("E", "nowhere to go");
  EXPECT_EQ(log_dir, logs());
  EXPECT_EQ(slurp(logs()), "not a folder");
}

TEST_F(DailyLog, LostLinesWhenTheDayCannotBeOpenedThenRecovers) {
  log_init();
  // Tomorrow's name is taken by a folder: its lines are dropped, the next day works again.
  ASSERT_TRUE(plat::dir_create(day_file("Tavrin-2026-10-19.log")));
  fake_now = {2026, 10, 19, 8, 0, 0, 0};
  log_write("I", "dropped");
  fake_now = {2026, 10, 20, 8, 0, 0, 0};
  log_write("I", "kept");
  EXPECT_EQ(slurp(day_file("Tavrin-2026-10-20.log")), bom + "2026-10-20 08:00:00.000 [I] kept\r\n");
  EXPECT_EQ(slurp(day_file("Tavrin-2026-10-18.log")).find("dropped"), std::string::npos);
}

TEST_F(DailyLog, ConcurrentLinesNeverMix) {
  log_init();
  constexpr int threads = 8, per_thread = 300;
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([t] {
      std::string filler(100 + t * 50, static_cast<char>('a' + t));
      for (int i = 0; i < per_thread; ++i) log_write("I", "t%d i%d %s end", t, i, filler.c_str());
    });
  for (auto& th : pool) th.join();
  auto lines = lines_of(slurp(day_file("Tavrin-2026-10-18.log")));
  ASSERT_EQ(lines.size(), 3u + threads * per_thread);
  std::regex shape(R"(2026-10-18 22:10:03\.042 \[I\] t(\d) i(\d+) ([a-h]+) end)");
  std::set<std::string> seen;
  for (size_t k = 3; k < lines.size(); ++k) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[k], m, shape)) << lines[k].substr(0, 80);
    int t = std::stoi(m[1]);
    EXPECT_EQ(m[3].str(), std::string(100 + t * 50, static_cast<char>('a' + t)));
    seen.insert(m[1].str() + "/" + m[2].str());
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(threads * per_thread));
}

}  // namespace
