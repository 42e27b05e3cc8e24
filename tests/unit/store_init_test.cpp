// Store start-up: the program folder from the executable path, compiler discovery with its log
// lines and PATH change, and the bank check that can refuse the start.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/locate.h"
#include "platform/sys.h"
#include "store/store.h"
#include "store/store_internal.h"

namespace {

const std::string sep(1, plat::path_sep);
const std::string list_sep(1, plat::path_list_sep);

std::vector<std::pair<std::string, std::string>> boxes;
void capture_box(const std::string& caption, const std::string& text) { boxes.emplace_back(caption, text); }

std::string valid_bank() {
  char* text = read_utf8(TAVRIN_SOURCE_DIR "/tests/fixtures/bank/small.json", store_file_limit);
  std::string out = text ? text : "";
  std::free(text);
  return out;
}

TEST(StoreRoot, FromExecutablePath) {
  struct row {
    std::string exe;
    int ok;
    std::string root;
  };
  const std::string p199 = sep + std::string(190, 'd') + sep + "tavrin";  // 1 + 190 + 1 + 6 = 198
  const std::vector<row> rows = {
      {sep + "opt" + sep + "tav" + sep + "tavrin", 1, sep + "opt" + sep + "tav"},
      {p199 + "x", 1, sep + std::string(190, 'd')},   // 199 long
      {p199 + "xy", 0, ""},                           // 200 long
      {"", 0, ""},
      {"tavrin", 0, ""},                              // no separator
      {sep + "tavrin", 1, ""},
  };
  for (const row& r : rows) {
    std::string root = "unchanged";
    EXPECT_EQ(store_root_from_exe(r.exe, &root), r.ok) << r.exe.size();
    if (r.ok) {
      EXPECT_EQ(root, r.root);
    }
  }
}

TEST(StoreRoot, PathListPrepend) {
  struct row {
    std::string folder, old_value;
    size_t limit;
    std::string expected;
  };
  const std::string s = list_sep;
  const std::vector<row> rows = {
      {"/t/bin", "/usr/bin" + s + "/bin", 8191, "/t/bin" + s + "/usr/bin" + s + "/bin"},
      {"/t/bin", "", 8191, "/t/bin"},
      {"/t/bin", "/usr/bin" + s + "/bin", 16, "/t/bin" + s + "/usr/bin"},  // exactly fits
      {"/t/bin", "/usr/bin" + s + "/bin", 17, "/t/bin" + s + "/usr/bin"},  // "/b" would be half an entry
      {"/t/bin", "/usr/local/bin", 10, "/t/bin"},
  };
  for (const row& r : rows) EXPECT_EQ(path_list_prepend(r.folder, r.old_value, r.limit), r.expected) << r.limit;
}

class StoreInit : public ::testing::Test {
 protected:
  std::string root, saved_path;

  void SetUp() override {
    uint32_t r = 0;
    plat::random_bytes(&r, sizeof r);
    root = plat::temp_dir() + sep + "tav-init-" + std::to_string(r);
    ASSERT_TRUE(plat::dir_create(root));
    saved_path = plat::env_get("PATH").value_or("");
    // An empty folder as the whole PATH: no compiler is found there unless a test puts one.
    ASSERT_TRUE(plat::dir_create(at("empty-path")));
    plat::env_set("PATH", at("empty-path"));
    boxes.clear();
    store_error_box = capture_box;
  }
  void TearDown() override {
    plat::env_set("PATH", saved_path);
    plat::dir_delete_tree(root);
  }
  std::string at(const std::string& rel) const { return root + sep + rel; }
  std::string own_bin() const { return root + sep + "toolchain" + sep + "bin"; }
  std::string exe(const char* name) const { return std::string(name) + plat::exe_suffix; }

  void put_bank(const std::string& text) {
    plat::dir_create(at("data"));
    ASSERT_TRUE(plat::file_write(at("data" + sep + "bank.json"), text));
  }
  void put_file(const std::string& folder, const std::string& name) {
    std::filesystem::create_directories(folder);
    std::string path = folder + sep + name;
    ASSERT_TRUE(plat::file_write(path, "#!/bin/sh\nexit 0\n"));
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  }
  // The lines of today's log without their time stamps.
  std::vector<std::string> log_lines() {
    std::vector<std::string> out;
    for (const auto& e : plat::dir_list(at("logs"), "Tavrin-*.log")) {
      // Read beside the open log (the store's reader refuses files open for writing on Windows).
      std::ifstream in(std::filesystem::u8path(at("logs" + sep + e.name)), std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      size_t pos = 3;
      while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        out.push_back(text.substr(pos + 24, end - pos - 24));
        pos = end + 2;
      }
    }
    return out;
  }
  bool logged(const std::string& line) {
    for (const auto& l : log_lines())
      if (l == line) return true;
    return false;
  }
};

TEST_F(StoreInit, OwnToolchainGoesFirstOnPath) {
  put_bank(valid_bank());
  put_file(own_bin(), exe("gcc"));
  put_file(own_bin(), exe("g++"));
  put_file(at("elsewhere"), exe("gcc"));  // found on PATH too, but ours wins
  plat::env_set("PATH", at("elsewhere"));

  EXPECT_EQ(store_init_at(root), 1);
  EXPECT_EQ(app_root, root);
  EXPECT_TRUE(plat::path_is_dir(at("data")));
  EXPECT_EQ(gcc_path, own_bin() + sep + exe("gcc"));
  EXPECT_EQ(gpp_path, own_bin() + sep + exe("g++"));
  EXPECT_EQ(plat::env_get("PATH").value_or(""), own_bin() + list_sep + at("elsewhere"));
  EXPECT_TRUE(logged("[I] 编译器（安装包自带，已加入 PATH）: " + gcc_path));
  EXPECT_TRUE(logged("[I] C++ 编译器（安装包自带）: " + gpp_path));
  EXPECT_TRUE(logged("[I] 题库校验通过，程序可以开始使用"));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(StoreInit, OwnToolchainWithPathUnsetOrEmpty) {
  put_bank(valid_bank());
  put_file(own_bin(), exe("gcc"));
  plat::env_set("PATH", "");
  EXPECT_EQ(store_init_at(root), 1);
  EXPECT_EQ(plat::env_get("PATH").value_or(""), own_bin());
}

TEST_F(StoreInit, OnlyOwnGppLeavesPathAlone) {
  put_bank(valid_bank());
  put_file(own_bin(), exe("g++"));
  EXPECT_EQ(store_init_at(root), 1);
  EXPECT_EQ(plat::env_get("PATH").value_or(""), at("empty-path"));
  EXPECT_EQ(gpp_path, own_bin() + sep + exe("g++"));
  EXPECT_TRUE(logged("[I] C++ 编译器（安装包自带）: " + gpp_path));
}

TEST_F(StoreInit, CompilersFoundOnPath) {
  put_bank(valid_bank());
  put_file(at("p1"), exe("g++"));
  put_file(at("p2"), exe("gcc"));
  put_file(at("p2"), exe("g++"));
  plat::env_set("PATH", at("p1") + list_sep + at("p2"));
  EXPECT_EQ(store_init_at(root), 1);
  EXPECT_EQ(gcc_path, at("p2") + sep + exe("gcc"));
  EXPECT_EQ(gpp_path, at("p1") + sep + exe("g++"));  // the first folder in the list
  EXPECT_TRUE(logged("[I] 编译器（PATH）: " + gcc_path));
  EXPECT_TRUE(logged("[I] C++ 编译器（PATH）: " + gpp_path));
  EXPECT_EQ(plat::env_get("PATH").value_or(""), at("p1") + list_sep + at("p2"));
}

TEST_F(StoreInit, NoCompilerAnywhereStillStarts) {
  put_bank(valid_bank());
  EXPECT_EQ(store_init_at(root), 1);
  std::string known = plat::known_compiler_dir;
  if (!known.empty() && plat::path_exists(known)) GTEST_SKIP() << "a local compiler install exists";
  // A path that does not exist, so the judge reports the missing compiler at use.
  std::string c_fallback = known.empty() ? own_bin() + sep + exe("gcc") : known + exe("gcc");
  std::string cpp_fallback = known.empty() ? own_bin() + sep + exe("g++") : known + exe("g++");
  EXPECT_EQ(gcc_path, c_fallback);
  EXPECT_EQ(gpp_path, cpp_fallback);
  EXPECT_FALSE(plat::path_exists(gcc_path));
  EXPECT_TRUE(logged("[E] 没有找到 gcc.exe：自带工具链、D:\\Dev-Cpp\\MinGW64 与 PATH 都不可用"));
  EXPECT_TRUE(logged("[W] 没有找到 g++.exe：C++ 题目无法评测（C 题目不受影响）"));
  EXPECT_TRUE(logged("[I] 题库校验通过，程序可以开始使用"));
}

TEST_F(StoreInit, MissingBankRefusesWithoutBox) {
  EXPECT_EQ(store_init_at(root), 0);
  EXPECT_TRUE(plat::path_is_dir(at("data")));  // made even though the start is refused
  EXPECT_TRUE(logged("[E] 无法读取 data\\bank.json"));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(StoreInit, OversizedBankIsUnreadable) {
  put_bank(std::string(4194305, ' '));
  EXPECT_EQ(store_init_at(root), 0);
  EXPECT_TRUE(logged("[E] 无法读取 data\\bank.json"));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(StoreInit, InvalidBankShowsTheMessage) {
  struct row {
    std::string bank, message;
  };
  const std::vector<row> rows = {
      {"{\"version\":1,", "题库不是有效 JSON，请检查逗号、引号和编码。"},
      {"{\"version\":2,\"questions\":[]}", "题库须使用 version: 1，并包含 1～1000 道 questions。"},
  };
  for (const row& r : rows) {
    boxes.clear();
    put_bank(r.bank);
    EXPECT_EQ(store_init_at(root), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "Mesk");
    EXPECT_EQ(boxes[0].second, r.message);
    EXPECT_TRUE(logged("[E] 题库校验失败: " + r.message));
    EXPECT_FALSE(logged("[I] 题库校验通过，程序可以开始使用"));
  }
}

}  // namespace
