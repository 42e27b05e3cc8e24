// Parse speed on a full-size question bank: our token parser against RapidJSON's DOM parser
// (default mode) on the same text in the same run, plus the bank validator on top of ours.
#include <rapidjson/document.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "json/json.h"
#include "json/text_buffer.h"
#include "store/store.h"

namespace {

struct rng {
  uint64_t s = 0x9E3779B97F4A7C15ull;
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<uint32_t>(s >> 11);
  }
  int range(int lo, int hi) { return lo + static_cast<int>(next() % static_cast<uint32_t>(hi - lo + 1)); }
};

const char* const phrases[] = {
    "小明在学校的图书馆里整理书架，",
    "每一本书都有一个编号和价格。",
    "请编写程序，读入若干整数并输出它们的和。",
    "输入的第一行是一个正整数 n，表示数据的组数。",
    "如果结果超过范围，请输出“溢出”。",
    "注意：行末不要输出多余的空格。",
    "老师希望统计全班同学的平均成绩，保留两位小数。",
    "数组的下标从 0 开始，",
    "字符串中只包含小写英文字母和数字。",
    "对于全部数据，保证 1 ≤ n ≤ 100000。",
};

const char* const code_lines[] = {
    "#include <stdio.h>",
    "int main(void) {",
    "\tint n, i;",
    "\tlong long sum = 0;",
    "\tif (scanf(\"%d\", &n) != 1) return 0;",
    "\tfor (i = 0; i < n; i++) {",
    "\t\tint x; scanf(\"%d\", &x); sum += x;",
    "\t}",
    "\tprintf(\"%lld\\n\", sum);",
    "\tchar path[] = \"C:\\\\data\\\\in.txt\";",
    "\treturn 0;",
    "}",
};

std::string chinese(rng& r, int bytes) {
  std::string s;
  while (static_cast<int>(s.size()) < bytes) s += phrases[r.next() % std::size(phrases)];
  return s;
}

std::string code(rng& r, int lines) {
  std::string s;
  for (int i = 0; i < lines; ++i) {
    s += code_lines[r.next() % std::size(code_lines)];
    s += '\n';
  }
  return s;
}

std::string numbers(rng& r, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) {
    s += std::to_string(r.range(-100000, 100000));
    s += (i + 1) % 10 ? ' ' : '\n';
  }
  return s;
}

void member(text_buffer& b, const char* key, const std::string& value) {
  b_json(&b, key);
  b_add(&b, ":");
  b_json(&b, value.c_str());
  b_add(&b, ",");
}

void cases(text_buffer& b, rng& r, const char* key, int count) {
  b_json(&b, key);
  b_add(&b, ":[");
  for (int i = 0; i < count; ++i) {
    b_add(&b, i ? ",{" : "{");
    member(b, "input", numbers(r, r.range(3, 20)));
    b_json(&b, "output");
    b_add(&b, ":");
    b_json(&b, numbers(r, r.range(1, 4)).c_str());
    b_add(&b, "}");
  }
  b_add(&b, "]");
}

std::string make_bank(int questions) {
  rng r;
  text_buffer b{};
  b_add(&b, "{\n  \"version\": 1,\n  \"title\": \"练习题库\",\n  \"revision\": \"2024.3\",\n  \"questions\": [\n");
  for (int q = 0; q < questions; ++q) {
    b_add(&b, q ? ",\n    {" : "    {");
    b_fmt(&b, "\"id\":\"q-%04d_%u\",\"topic\":%d,\"stars\":%d,", q, r.next() % 1000, r.range(1, 9),
          r.range(1, 5));
    if (q % 3 == 0) b_add(&b, "\"lang\":\"cpp\",");
    b_add(&b, q % 7 ? "\"compare\":\"tokens\"," : "\"compare\":\"float\",");
    member(b, "title", chinese(r, 40));
    member(b, "scenario", chinese(r, r.range(280, 660)));
    member(b, "task", chinese(r, r.range(150, 360)));
    member(b, "input", chinese(r, r.range(60, 200)));
    member(b, "output", chinese(r, r.range(40, 150)));
    member(b, "constraints", chinese(r, r.range(30, 100)));
    member(b, "starter", code(r, r.range(4, 10)));
    member(b, "reference", code(r, r.range(15, 40)));
    cases(b, r, "samples", r.range(1, 5));
    b_add(&b, ",");
    cases(b, r, "tests", r.range(3, 20));
    b_add(&b, "}");
  }
  b_add(&b, "\n  ]\n}\n");
  std::string out(b.data, b.length);
  b_free(&b);
  return out;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Seconds per call of f, averaged over reps calls.
template <class F>
double per_call(int reps, F&& f) {
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < reps; ++i) f();
  return seconds_since(t0) / reps;
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const int rounds = 7;
  const std::string bank = make_bank(1000);

  // The text must be what it claims: valid, full-size, and a bank the validator accepts.
  json_doc check;
  if (!json_parse(&check, bank.c_str())) {
    std::fprintf(stderr, "generated bank is not valid JSON\n");
    return 1;
  }
  if (cstr message{bank_validate(bank.c_str())}) {
    std::fprintf(stderr, "generated bank rejected: %s\n", message.get());
    return 1;
  }
  std::printf("bank: %zu bytes, %d tokens, 1000 questions\n", bank.size(), check.count);

  volatile int64_t sink = 0;
  auto ours_once = [&] {
    json_doc doc;
    sink = sink + json_parse(&doc, bank.c_str()) + doc.count;
  };
  auto rapid_once = [&] {
    rapidjson::Document d;
    d.Parse(bank.c_str());
    sink = sink + (d.HasParseError() ? 0 : 1) + static_cast<int64_t>(d["questions"].Size());
  };
  auto validate_once = [&] {
    char* message = bank_validate(bank.c_str());
    sink = sink + (message ? 1 : 0);
    std::free(message);
  };
  // Rounds interleave the three so that a busy machine slows them alike; best round counts.
  double t_ours = 1e300, t_rapid = 1e300, t_validate = 1e300;
  for (int round = 0; round < rounds; ++round) {
    t_ours = std::min(t_ours, per_call(reps, ours_once));
    t_rapid = std::min(t_rapid, per_call(reps, rapid_once));
    t_validate = std::min(t_validate, per_call(reps, validate_once));
  }
  const double mb = static_cast<double>(bank.size()) / 1e6;
  const double ours = mb / t_ours, rapid = mb / t_rapid, validate = mb / t_validate;

  std::printf("json_parse      %8.1f MB/s\n", ours);
  std::printf("RapidJSON Parse %8.1f MB/s\n", rapid);
  std::printf("bank_validate   %8.1f MB/s\n", validate);
  std::printf("time ratio json_parse / RapidJSON: %.2f (goal: at most 2.00)\n", rapid / ours);
  std::printf("time ratio bank_validate / json_parse: %.2f\n", ours / validate);
  return 0;
}
