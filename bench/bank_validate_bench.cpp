// Validation of a full-size bank (1000 questions, about 4 MiB) against one bare parse of the
// same text in the same run. Goal: validation well under 50 ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "json/json.h"
#include "store/store.h"

namespace {

std::string filler(const char* unit, size_t bytes) {
  std::string out;
  while (out.size() < bytes) out += unit;
  return out;
}

std::string big_bank() {
  const std::string scenario = filler("小明正在练习数组与循环。", 1150);
  const std::string task = filler("读入 n 个整数并输出它们的和。", 600);
  const std::string code = filler("int main(void){int a,b;scanf(\\\"%d%d\\\",&a,&b);printf(\\\"%d\\\\n\\\",a+b);}\\n", 900);
  std::string bank = "{\"version\":1,\"title\":\"bench\",\"revision\":\"1\",\"questions\":[";
  for (int i = 0; i < 1000; ++i) {
    if (i) bank += ",";
    bank += "{\"id\":\"q-" + std::to_string(i) + "\",\"topic\":" + std::to_string(i % 9 + 1) +
            ",\"stars\":" + std::to_string(i % 5 + 1) + ",\"lang\":\"c\",\"compare\":\"tokens\"" +
            ",\"title\":\"第" + std::to_string(i) + "题\",\"scenario\":\"" + scenario + "\",\"task\":\"" +
            task + "\",\"input\":\"两个整数\",\"output\":\"一个整数\",\"constraints\":\"|a|<=1000\"" +
            ",\"starter\":\"" + code + "\",\"reference\":\"" + code + "\",\"samples\":[";
    for (int s = 0; s < 2; ++s) bank += std::string(s ? "," : "") + "{\"input\":\"1 2\\n\",\"output\":\"3\\n\"}";
    bank += "],\"tests\":[";
    for (int t = 0; t < 8; ++t)
      bank += std::string(t ? "," : "") + "{\"input\":\"" + std::to_string(t) + " 5\\n\",\"output\":\"" +
              std::to_string(t + 5) + "\\n\"}";
    bank += "]}";
  }
  return bank + "]}";
}

template <class F>
double best_ms(int rounds, F&& f) {
  double best = 1e30;
  for (int i = 0; i < rounds; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  return best;
}

}  // namespace

int main() {
  const std::string bank = big_bank();
  char* check = bank_validate(bank.c_str());
  if (check) {
    std::printf("generated bank is invalid: %s\n", check);
    std::free(check);
    return 1;
  }
  const int rounds = 15;
  double parse = best_ms(rounds, [&] {
    json_doc doc;
    if (!json_parse(&doc, bank.c_str())) std::abort();
  });
  double validate = best_ms(rounds, [&] { std::free(bank_validate(bank.c_str())); });
  std::printf("bank: %zu bytes (%.2f MiB, read limit %llu), 1000 questions\n", bank.size(),
              bank.size() / 1048576.0, store_file_limit);
  std::printf("json_parse (baseline): %.2f ms\n", parse);
  std::printf("bank_validate:         %.2f ms (goal: well under 50 ms)\n", validate);
  std::printf("ratio validate/parse:  %.2f\n", validate / parse);
  std::printf("goal %s\n", validate < 50.0 ? "met" : "missed");
  return 0;
}
