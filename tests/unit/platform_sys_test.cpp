// Environment, clocks and randomness, on both lanes.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/sys.h"

namespace {

TEST(Env, SetAndGetRoundTripAsUtf8) {
  struct Case {
    const char* name;
    std::string value;
  };
  const Case cases[] = {
      {"TAVRIN_TEST_ASCII", "plain value"},
      {"TAVRIN_TEST_CHINESE", "练习目录\\工具链;第二段"},
      {"TAVRIN_TEST_EMPTY", ""},  // set but empty is not the same as unset
      {"TAVRIN_TEST_LONG", std::string(20000, 'p')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(plat::env_set(c.name, c.value));
    auto got = plat::env_get(c.name);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, c.value);
  }
  EXPECT_FALSE(plat::env_get("TAVRIN_TEST_NEVER_SET_4b1c"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(plat::env_unset(c.name));
    EXPECT_FALSE(plat::env_get(c.name)) << "unset, not empty";
  }
  EXPECT_TRUE(plat::env_unset("TAVRIN_TEST_NEVER_SET_4b1c"));
  EXPECT_FALSE(plat::env_set("", "x"));
  EXPECT_FALSE(plat::env_set("A=B", "x"));
}

TEST(Env, PrependingToPathKeepsTheOldValue) {
  // What start-up does with the program's own compiler folder.
  const std::string old = plat::env_get("PATH").value_or("");
  const std::string bin = std::string("工具链") + plat::path_sep + "bin";
  ASSERT_TRUE(plat::env_set("PATH", bin + plat::path_list_sep + old));
  EXPECT_EQ(plat::env_get("PATH"), bin + plat::path_list_sep + old);
  plat::env_set("PATH", old);
  EXPECT_EQ(plat::path_list_sep, plat::path_sep == '\\' ? ';' : ':');
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t days_from_civil(int y, int m, int d) {
  using namespace std::chrono;
  return sys_days(year(y) / month(static_cast<unsigned>(m)) / day(static_cast<unsigned>(d)))
      .time_since_epoch()
      .count();
}

TEST(Clock, LocalTimeAgreesWithUtcFileTime) {
  const int64_t ft = plat::time_now_filetime();
  const plat::local_time t = plat::time_local();
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_GE(t.day, 1);
  EXPECT_LE(t.day, 31);
  EXPECT_GE(t.hour, 0);
  EXPECT_LE(t.hour, 23);
  EXPECT_GE(t.minute, 0);
  EXPECT_LE(t.minute, 59);
  EXPECT_GE(t.second, 0);
  EXPECT_LE(t.second, 59);
  EXPECT_GE(t.millisecond, 0);
  EXPECT_LE(t.millisecond, 999);
  // Local time differs from UTC by the zone offset only: at most 14 hours.
  const int64_t local_s = days_from_civil(t.year, t.month, t.day) * 86400 + t.hour * 3600 +
                          t.minute * 60 + t.second;
  const int64_t utc_s = (ft - 116444736000000000LL) / 10000000LL;
  EXPECT_LE(std::llabs(local_s - utc_s), 14 * 3600 + 5) << "local " << local_s << " utc " << utc_s;
  // A plausible present: after 2020 and before 2100.
  EXPECT_GT(ft, 132223104000000000LL);
  EXPECT_LT(ft, 157766880000000000LL);
}

TEST(Clock, MillisecondsAdvanceInTheirOwnUnits) {
  // Checks units, not speed: a 300 ms sleep must read as roughly 300 ms on every clock.
  const uint32_t tick0 = plat::tick_ms();
  const int64_t ft0 = plat::time_now_filetime();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const uint32_t dtick = plat::tick_ms() - tick0;  // unsigned subtraction survives the wrap
  const int64_t dft = plat::time_now_filetime() - ft0;
  EXPECT_GE(dtick, 280u);
  EXPECT_LT(dtick, 60000u);
  EXPECT_GE(dft, 2800000);
  EXPECT_LT(dft, 600000000LL);
  // The millisecond field moves within a second.
  std::array<bool, 1000> seen{};
  int distinct = 0;
  for (int i = 0; i < 50; ++i) {
    int ms = plat::time_local().millisecond;
    if (!seen[ms]) ++distinct, seen[ms] = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(7));
  }
  EXPECT_GT(distinct, 10);
}

TEST(Random, FillsEveryByteWithUnpredictableValues) {
  for (size_t n : {size_t{0}, size_t{1}, size_t{33}, size_t{1} << 20}) {
    SCOPED_TRACE(n);
    std::vector<unsigned char> a(n + 8, 0), b(n + 8, 0);
    ASSERT_TRUE(plat::random_bytes(a.data(), n));
    ASSERT_TRUE(plat::random_bytes(b.data(), n));
    for (size_t i = n; i < n + 8; ++i) EXPECT_EQ(a[i], 0) << "wrote past the end at " << i;
    if (n >= 33) {
      EXPECT_NE(a, b);
    }
    if (n == (size_t{1} << 20)) {
      // Each half on its own holds every byte value (about 2048 of each expected).
      for (size_t half = 0; half < 2; ++half) {
        std::array<int, 256> count{};
        for (size_t i = half * n / 2; i < (half + 1) * n / 2; ++i) ++count[a[i]];
        for (int v = 0; v < 256; ++v) ASSERT_GT(count[v], 1500) << "value " << v << " half " << half;
      }
    }
  }
}

TEST(Wipe, ClearsExactlyTheGivenRange) {
  char secret[32];
  std::memset(secret, 'S', sizeof secret);
  plat::secure_wipe(secret + 4, 20);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(secret[i], (i >= 4 && i < 24) ? '\0' : 'S') << i;
  plat::secure_wipe(secret, 0);
  plat::secure_wipe(nullptr, 0);
  std::string token = "session-token-value";
  plat::secure_wipe(token.data(), token.size());
  EXPECT_EQ(token, std::string(19, '\0'));
}

}  // namespace
