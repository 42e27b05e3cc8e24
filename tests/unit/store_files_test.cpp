// Bounded paths, whole-file reads, atomic replacement, and the bank and progress reads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/locate.h"
#include "platform/sys.h"
#include "store/store.h"

namespace {

const std::string sep(1, plat::path_sep);

std::string take(char* p) {
  std::string out = p ? p : "<null>";
  std::free(p);
  return out;
}

class StoreFiles : public ::testing::Test {
 protected:
  std::string root;
  void SetUp() override {
    uint32_t r = 0;
    plat::random_bytes(&r, sizeof r);
    root = plat::temp_dir() + sep + "tav-store-" + std::to_string(r);
    ASSERT_TRUE(plat::dir_create(root));
    ASSERT_TRUE(plat::dir_create(root + sep + "data"));
    app_root = root;
    profile.clear();
  }
  void TearDown() override {
    profile.clear();
    plat::dir_delete_tree(root);
  }
  std::string at(const std::string& name) const { return root + sep + name; }
  std::string data(const std::string& name) const { return root + sep + "data" + sep + name; }
};

TEST(PathJoin, JoinsWithTheSystemSeparatorAndCutsAt259) {
  struct row {
    std::string folder, name, expected;
  };
  const std::string f300(290, 'f');
  const std::vector<row> rows = {
      {"a", "b", "a" + sep + "b"},
      {"a" + sep, "b", "a" + sep + sep + "b"},  // taken unchanged
      {"", "b", sep + "b"},
      {"a", "", "a" + sep},
      {f300, "name.json", (f300 + sep + "name.json").substr(0, 259)},
      {std::string(258, 'f'), "x", std::string(258, 'f') + sep},
      {std::string(257, 'f'), "x", std::string(257, 'f') + sep + "x"},
  };
  for (const row& r : rows) {
    std::string got = path_join(r.folder, r.name);
    EXPECT_EQ(got, r.expected) << r.folder.size() << "+" << r.name;
    EXPECT_LE(plat::path_units(got), 259u);
  }
  // The cut never leaves half a character behind.
  std::string cn = path_join(std::string(250, 'f'), "题题题题");
  EXPECT_LE(plat::path_units(cn), 259u);
  EXPECT_EQ((cn.size() - 251) % 3, 0u);
}

TEST_F(StoreFiles, StorePathIsInTheDataFolder) {
  EXPECT_EQ(store_path("bank.json"), data("bank.json"));
  app_root = std::string(255, 'r');
  EXPECT_EQ(store_path("bank.json"), (std::string(255, 'r') + sep + "data").substr(0, 259));
}

TEST_F(StoreFiles, ReadUtf8Table) {
  struct row {
    const char* name;
    std::string content;
    unsigned long long limit;
    std::string expected;  // "<null>" for no result
  };
  const std::vector<row> rows = {
      {"empty file", "", 10, ""},
      {"plain text", "{\"a\":1}", 100, "{\"a\":1}"},
      {"BOM only", "\xEF\xBB\xBF", 100, ""},
      {"half a BOM", "\xEF\xBB", 100, "\xEF\xBB"},
      {"BOM then text", "\xEF\xBB\xBF题库", 100, "题库"},
      {"BOM twice drops one", "\xEF\xBB\xBF\xEF\xBB\xBFx", 100, "\xEF\xBB\xBFx"},
      {"exactly at the limit", "12345", 5, "12345"},
      {"one byte over", "123456", 5, "<null>"},
      {"BOM counts against the limit", "\xEF\xBB\xBF" "ab", 4, "<null>"},
      {"zero limit, empty file", "", 0, ""},
  };
  for (const row& r : rows) {
    std::string path = at("f.txt");
    ASSERT_TRUE(plat::file_write(path, r.content));
    EXPECT_EQ(take(read_utf8(path, r.limit)), r.expected) << r.name;
  }
  EXPECT_EQ(take(read_utf8(at("missing.txt"), 100)), "<null>");
  EXPECT_EQ(take(read_utf8(root, 100)), "<null>");  // a folder
  // Content after an embedded NUL is kept in the block but ends the C string.
  ASSERT_TRUE(plat::file_write(at("embedded.txt"), std::string("ab\0cd", 5)));
  EXPECT_EQ(take(read_utf8(at("embedded.txt"), 100)), "ab");
}

TEST_F(StoreFiles, WriteAtomicReplacesAndLeavesNoTemporary) {
  std::string path = at("state.json");
  ASSERT_TRUE(plat::file_write(path + ".tmp", "leftover from a crash, longer than the new text"));
  ASSERT_TRUE(plat::file_write(path, "old"));
  EXPECT_EQ(write_atomic(path, "{\"new\":true}"), 1);
  EXPECT_EQ(plat::file_read_all(path, 1000).value_or("?"), "{\"new\":true}");
  EXPECT_FALSE(plat::path_exists(path + ".tmp"));

  EXPECT_EQ(write_atomic(path, ""), 1);
  EXPECT_EQ(plat::file_size(path).value_or(99), 0u);

  EXPECT_EQ(write_atomic(at("new.json"), "题"), 1);
  EXPECT_EQ(plat::file_read_all(at("new.json"), 1000).value_or("?"), "题");
}

TEST_F(StoreFiles, WriteAtomicFailureKeepsTheTarget) {
  // Missing folder: nothing is created.
  EXPECT_EQ(write_atomic(at("no-such-folder") + sep + "x.json", "x"), 0);
  EXPECT_FALSE(plat::path_exists(at("no-such-folder")));
  // The target is a non-empty folder, so the rename fails: it stays, and no .tmp is left.
  std::string target = at("busy");
  ASSERT_TRUE(plat::dir_create(target));
  ASSERT_TRUE(plat::file_write(target + sep + "inside", "keep"));
  EXPECT_EQ(write_atomic(target, "x"), 0);
  EXPECT_TRUE(plat::path_is_dir(target));
  EXPECT_EQ(plat::file_read_all(target + sep + "inside", 100).value_or("?"), "keep");
  EXPECT_FALSE(plat::path_exists(target + ".tmp"));
}

TEST_F(StoreFiles, BankLoadBoundsAndBom) {
  EXPECT_EQ(take(bank_load()), "<null>");
  std::string exact(4194304, ' ');
  exact.replace(0, 2, "{}");
  ASSERT_TRUE(plat::file_write(data("bank.json"), exact));
  char* text = bank_load();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text).size(), 4194304u);
  std::free(text);
  ASSERT_TRUE(plat::file_write(data("bank.json"), exact + " "));
  EXPECT_EQ(take(bank_load()), "<null>");
  ASSERT_TRUE(plat::file_write(data("bank.json"), "\xEF\xBB\xBF{\"version\":1}"));
  EXPECT_EQ(take(bank_load()), "{\"version\":1}");
}

TEST_F(StoreFiles, ProgressFileFollowsTheProfile) {
  const std::string id = "0123456789abcdef0123456789abcdef";
  EXPECT_EQ(cloud_state_path(), data("state.json"));
  EXPECT_EQ(take(state_load()), "{}");
  ASSERT_TRUE(plat::file_write(data("state.json"), "\xEF\xBB\xBF{\"guest\":1}"));
  ASSERT_TRUE(plat::file_write(data("state-" + id + ".json"), "{\"account\":1}"));
  EXPECT_EQ(take(state_load()), "{\"guest\":1}");
  {
    std::lock_guard<std::mutex> hold(store_lock);
    profile = id;
  }
  EXPECT_EQ(cloud_state_path(), data("state-" + id + ".json"));
  EXPECT_EQ(take(state_load()), "{\"account\":1}");
  // An unreadable progress file reads as empty progress.
  ASSERT_TRUE(plat::file_write(data("state-" + id + ".json"), std::string(4194305, ' ')));
  EXPECT_EQ(take(state_load()), "{}");
}

TEST_F(StoreFiles, ProfileMatches) {
  struct row {
    std::string profile;
    const char* name;
    int expected;
  };
  const std::string id = "0123456789abcdef0123456789abcdef";
  const std::vector<row> rows = {
      {"", "guest", 1},    {"", "", 0},      {"", "Guest", 0}, {"", "guest ", 0},
      {id, id.c_str(), 1}, {id, "guest", 0}, {id, "", 0},
      {id, "0123456789ABCDEF0123456789ABCDEF", 0},
      {id, "0123456789abcdef0123456789abcde", 0},
  };
  for (const row& r : rows) {
    profile = r.profile;
    EXPECT_EQ(cloud_profile_matches(r.name), r.expected) << "[" << r.profile << "] vs [" << r.name << "]";
  }
  EXPECT_EQ(cloud_profile_matches(nullptr), 0);
}

TEST_F(StoreFiles, ReadsUnderConcurrentAtomicWrites) {
  // Readers see the whole old or the whole new text, never a mix or nothing.
  const std::string a(200000, 'a'), b(300000, 'b');
  ASSERT_EQ(write_atomic(data("state.json"), a.c_str()), 1);
  std::thread writer([&] {
    for (int i = 0; i < 60; ++i) {
      std::lock_guard<std::mutex> hold(store_lock);
      write_atomic(data("state.json"), (i % 2 ? a : b).c_str());
    }
  });
  for (int i = 0; i < 60; ++i) {
    std::string got = take(state_load());
    EXPECT_TRUE(got == a || got == b) << got.size();
  }
  writer.join();
}

}  // namespace
