// Rules of the cloud client that need no service: addresses, identities, the profile id.
#include <gtest/gtest.h>

#include <string>

#include "cloud/cloud_internal.h"
#include "store/store.h"

namespace {

struct address_case {
  const char* text;
  int accepted;
};

const address_case addresses[] = {
    {"https://sync.example.org", 1},
    {"https://sync.example.org/", 1},
    {"https://sync.example.org:8443", 1},
    {"HTTPS://sync.example.org", 1},
    {"http://127.0.0.1:8080", 1},
    {"http://127.0.0.1", 1},
    {"http://localhost:1/", 1},
    {"http://LOCALHOST:1", 1},
    {"http://lOcAlHoSt", 1},
    {"http://127.0.0.2:8080", 0},
    {"http://127.0.0.10", 0},
    {"http://[::1]:8080", 0},
    {"http://localhost1", 0},
    {"http://example.org", 0},
    {"https://example.org/a", 0},
    {"https://example.org/a/", 0},
    {"https://example.org//", 0},
    {"https://example.org?", 0},
    {"https://example.org/?q=1", 0},
    {"https://example.org#f", 0},
    {"https://u@example.org", 0},
    {"https://u:p@example.org", 0},
    {"https://:p@example.org", 0},
    {"ftp://example.org", 0},
    {"example.org", 0},
    {"//example.org", 0},
    {"https://", 0},
    {"https:///", 0},
    {"", 0},
    {"https://exa mple.org", 0},
    {" https://example.org", 0},
    {"https://example.org\\", 0},
    {"https://example.org\t", 0},
    {"https://\xff\xfe.org", 0},     // not UTF-8
    {"https://\xc0\xaf.org", 0},     // overlong form
};

TEST(CloudRules, ServiceAddresses) {
  for (const address_case& c : addresses) EXPECT_EQ(valid_url(c.text), c.accepted) << c.text;
  EXPECT_EQ(valid_url(nullptr), 0);
}

TEST(CloudRules, AddressLengthLimit) {
  std::string base = "https://";
  std::string tail = ".org";
  std::string at511 = base + std::string(511 - base.size() - tail.size(), 'a') + tail;
  std::string at512 = base + std::string(512 - base.size() - tail.size(), 'a') + tail;
  ASSERT_EQ(at511.size(), 511u);
  // A host label over 63 characters is not a valid name; split it into labels.
  for (std::string* s : {&at511, &at512})
    for (size_t i = base.size() + 60; i < s->size() - tail.size(); i += 61) (*s)[i] = '.';
  EXPECT_EQ(valid_url(at511.c_str()), 1);
  EXPECT_EQ(valid_url(at512.c_str()), 0);
}

TEST(CloudRules, Identities) {
  const std::string id = "0123abcd-0000-4000-8000-00000000ABCD";
  const std::string token(43, 'a');
  struct {
    std::string id, name, token;
    int ok;
  } cases[] = {
      {id, "学生", token, 1},
      {id, std::string(127, 'n'), "A-_z09" + std::string(37, 'x'), 1},
      {id, "", token, 0},
      {id, std::string(128, 'n'), token, 0},
      {id, "n", std::string(42, 'a'), 0},
      {id, "n", std::string(44, 'a'), 0},
      {id, "n", std::string(42, 'a') + "+", 0},
      {id, "n", std::string(42, 'a') + "/", 0},
      {id, "n", std::string(42, 'a') + "=", 0},
      {id.substr(1), "n", token, 0},
      {id + "0", "n", token, 0},
      {"g" + id.substr(1), "n", token, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(valid_identity(c.id.c_str(), c.name.c_str(), c.token.c_str()), c.ok) << c.id << " " << c.name << " " << c.token;
  EXPECT_EQ(valid_identity(nullptr, "n", token.c_str()), 0);
  EXPECT_EQ(valid_identity(id.c_str(), nullptr, token.c_str()), 0);
  EXPECT_EQ(valid_identity(id.c_str(), "n", nullptr), 0);
}

TEST(CloudRules, ProfileIdIsTheDigestOfAddressAndAccount) {
  // SHA-256("abc") begins ba7816bf8f01cfea414140de5dae2223: the id is its first 16 bytes in hex.
  service = "a";
  user_id = "bc";
  make_profile();
  EXPECT_EQ(profile, "ba7816bf8f01cfea414140de5dae2223");
  // A trailing slash makes another profile.
  service = "https://sync.example.org";
  user_id = "0123abcd-0000-4000-8000-00000000abcd";
  make_profile();
  std::string plain = profile;
  service += "/";
  make_profile();
  EXPECT_EQ(plain.size(), 32u);
  EXPECT_NE(plain, profile);
  service.clear();
  user_id.clear();
  profile.clear();
}

}  // namespace
