// Digests and sealed secrets: known answers, round trips, and blocks that must not open.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "platform/crypto.h"
#include "platform/fs.h"
#include "platform/sys.h"

namespace {

std::string hex(const uint8_t* p, size_t n) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < n; ++i) {
    snprintf(two, sizeof two, "%02x", p[i]);
    out += two;
  }
  return out;
}

#ifndef _WIN32
// The Linux key lives in the user's config folder: a temporary one for these tests.
struct config_folder {
  std::string path;
  config_folder() {
    path = plat::temp_dir() + "/tavrin-crypto-test-" + std::to_string(plat::tick_ms());
    plat::dir_create(path);
    plat::env_set("XDG_CONFIG_HOME", path);
  }
  ~config_folder() { plat::dir_delete_tree(path); }
};
#endif

TEST(PlatformCrypto, Sha256KnownAnswers) {
  struct {
    std::string in, out;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const auto& c : cases) {
    uint8_t digest[32];
    ASSERT_TRUE(plat::sha256(c.in, digest));
    EXPECT_EQ(hex(digest, 32), c.out) << c.in;
  }
}

TEST(PlatformCrypto, SealedSecretsOpenOnlyForTheSameContext) {
#ifndef _WIN32
  config_folder folder;
#endif
  const std::string plain("{\"token\":\"secret-token-value\"}\0", 31);
  const std::string context = "/opt/schools/Tavrin 练习室";
  auto sealed = plat::secret_seal(plain, context);
  ASSERT_TRUE(sealed.has_value());
  EXPECT_EQ(sealed->find("secret-token-value"), std::string::npos) << "the secret is not in the clear";
  auto opened = plat::secret_open(*sealed, context);
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(*opened, plain);
  // Sealing twice gives two different blocks (fresh randomness), both opening to the same text.
  auto again = plat::secret_seal(plain, context);
  ASSERT_TRUE(again.has_value());
  EXPECT_NE(*again, *sealed);

  EXPECT_FALSE(plat::secret_open(*sealed, context + "2").has_value()) << "another program folder";
  EXPECT_FALSE(plat::secret_open(*sealed, "").has_value());
#ifndef _WIN32
  // Windows checks the block's integrity inside DPAPI; Wine's DPAPI does not, so this case is
  // shown on Linux only.
  for (size_t at : {size_t{0}, size_t{5}, sealed->size() / 2, sealed->size() - 1}) {
    std::string damaged = *sealed;
    damaged[at] ^= 0x40;
    EXPECT_FALSE(plat::secret_open(damaged, context).has_value()) << "a changed byte at " << at;
  }
#endif
  EXPECT_FALSE(plat::secret_open(sealed->substr(0, sealed->size() - 1), context).has_value()) << "a cut block";
  EXPECT_FALSE(plat::secret_open("", context).has_value());
}

#ifndef _WIN32
TEST(PlatformCrypto, KeyFileMustBeTheUsersAlone) {
  config_folder folder;
  auto sealed = plat::secret_seal("x", "ctx");
  ASSERT_TRUE(sealed.has_value());
  std::string key = folder.path + "/tavrin/cloud.key";
  auto size = plat::file_size(key);
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(*size, 32u);
  ASSERT_EQ(chmod(key.c_str(), 0644), 0);
  EXPECT_FALSE(plat::secret_open(*sealed, "ctx").has_value()) << "a key others can read is not used";
  ASSERT_EQ(chmod(key.c_str(), 0600), 0);
  EXPECT_TRUE(plat::secret_open(*sealed, "ctx").has_value());
  // Without its key nothing opens, and opening never makes a new key.
  plat::file_delete(key);
  EXPECT_FALSE(plat::secret_open(*sealed, "ctx").has_value());
  EXPECT_FALSE(plat::path_exists(key));
}
#endif

}  // namespace
