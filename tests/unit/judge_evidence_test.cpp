// Reading a diagnostic run's output: what the program printed is untrusted, so only lines of
// the learner's own source may come out, with their text taken from the source.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "judge/evidence.h"

namespace {

const char* const source =
    "#include <stdio.h>\n"
    "int t[10];\n"
    "int main(void) {\n"
    "  int i;\n"
    "  for (i = 0; i <= 10; i++) t[i] = i;\n"
    "  return t[2] / (t[0]);\n"
    "}\n";

// addr2line as the judge sees it: one answer per address.
address_mapper lines_for(std::vector<std::string> answers, std::vector<uint64_t>* asked = nullptr) {
  return [answers, asked](const std::vector<uint64_t>& addresses) {
    if (asked) *asked = addresses;
    std::vector<std::string> out;
    for (size_t k = 0; k < addresses.size(); ++k) out.push_back(k < answers.size() ? answers[k] : "??:0");
    return out;
  };
}

TEST(Evidence, SanitizerReports) {
  struct row {
    const char* output;
    bool found;
    const char* kind;
    int line;
    const char* message_part;
  };
  const row rows[] = {
      {"1\n2\nsolution.c:5:32: runtime error: index 10 out of bounds for type 'int [10]'\n", true,
       "bounds", 5, "t[i] 越界：下标 10，数组 t 只有 10 个元素，合法下标是 0 到 9"},
      {"/tmp/Mesk-1/solution.c:5:32: runtime error: index -1 out of bounds for type 'int [10]'\n",
       true, "bounds", 5, "下标 -1"},
      {"solution.c:5:3: runtime error: index 10 out of bounds for type 'int [10]'\n", true,
       "bounds", 5, "数组下标越界：下标 10，数组只有 10 个元素"},
      {"solution.c:6:15: runtime error: division by zero\n", true, "divide", 6, "第 6 行：除数为 0"},
      {"solution.c:6:3: runtime error: signed integer overflow: 2147483647 + 1 cannot be represented in type 'int'\n",
       true, "overflow", 6, "整数溢出"},
      {"solution.c:6:3: runtime error: load of null pointer of type 'int'\n", true, "null", 6, "空指针"},
      {"solution.c:6:3: runtime error: shift exponent 40 is too large\n", true, "undefined", 6, "第 6 行"},
      // the last report counts: a real one follows whatever the program printed before
      {"solution.c:3:1: runtime error: division by zero\nsolution.c:5:32: runtime error: index 10 out of bounds for type 'int [10]'\n",
       true, "bounds", 5, "下标 10"},
      // lines outside the source, other files, malformed numbers: nothing
      {"solution.c:8:1: runtime error: division by zero\n", false, "", 0, ""},
      {"solution.c:0:1: runtime error: division by zero\n", false, "", 0, ""},
      {"solution.c:99999999999999999999:1: runtime error: division by zero\n", false, "", 0, ""},
      {"other.c:5:1: runtime error: division by zero\n", false, "", 0, ""},
      {"mysolution.c:5:1: runtime error: division by zero\n", false, "", 0, ""},
      {"solution.c.h:5:1: runtime error: division by zero\n", false, "", 0, ""},
      {"solution.c:5: runtime error: division by zero\n", false, "", 0, ""},
      {"solution.c:5:x: runtime error: division by zero\n", false, "", 0, ""},
      {"", false, "", 0, ""},
      // numbers out of any sensible range are not repeated
      {"solution.c:5:32: runtime error: index 99999999999999999999999 out of bounds for type 'int [10]'\n",
       true, "bounds", 5, "数组 t 的下标越界。"},
  };
  for (const row& r : rows) {
    const runtime_evidence e = read_evidence(r.output, source, "solution.c", true, lines_for({}));
    EXPECT_EQ(e.found, r.found) << r.output;
    if (!r.found || !e.found) continue;
    EXPECT_EQ(e.kind, r.kind) << r.output;
    EXPECT_EQ(e.line, r.line) << r.output;
    EXPECT_NE(e.message.find(r.message_part), std::string::npos) << e.message;
    EXPECT_NE(e.message.find("第 " + std::to_string(r.line) + " 行"), std::string::npos);
  }
  const runtime_evidence e = read_evidence(rows[0].output, source, "solution.c", true, lines_for({}));
  EXPECT_EQ(e.text, "for (i = 0; i <= 10; i++) t[i] = i;");  // from the source, trimmed
}

TEST(Evidence, CrashRecords) {
  struct row {
    const char* output;
    std::vector<std::string> mapped;
    bool found;
    const char* kind;
    int line;
  };
  const std::string own = "/tmp/Mesk-1/solution.c:6";
  const row rows[] = {
      // fault in the learner's own line at a small address
      {"==diagnose== signal 0xb address 0x0 sp 0x7ffd0000 base 0x1000 pc 0x1234 frames 0x1500\n",
       {own, "??:0"}, true, "null", 6},
      {"==diagnose== signal 0xb address 0x7f000000 sp 0x7ffd0000 base 0x1000 pc 0x1234 frames\n",
       {own}, true, "memory", 6},
      {"==diagnose== signal 0x8 address 0x1234 sp 0x7ffd0000 base 0x1000 pc 0x1234 frames\n", {own},
       true, "divide", 6},
      // the fault beside the stack pointer: the stack ran out
      {"==diagnose== signal 0xb address 0x7ffcfff8 sp 0x7ffd0000 base 0x1000 pc 0x1234 frames\n",
       {"/tmp/solution.c:3 (discriminator 1)"}, true, "stack", 3},
      // fault in a library, the learner's call further down
      {"==diagnose== signal 0xb address 0x0 sp 0x7ffd0000 base 0x1000 pc 0x7f001234 frames 0x7f000001 0x1500\n",
       {"??:0", "??:0", own}, true, "library", 6},
      // the reporter's own frames and other files are passed over; nothing of the source: none
      {"==diagnose== signal 0xb address 0x0 sp 0x7ffd0000 base 0x1000 pc 0x1234 frames 0x1500\n",
       {"/tmp/diagnose_helper.c:20", "/usr/include/stdio.h:6"}, false, "", 0},
      {"==diagnose== signal 0xb address 0x0 sp 0x7ffd0000 base 0x1000 pc 0x1234 frames\n",
       {"/tmp/solution.c:70"}, false, "", 0},
      {"==diagnose== signal 0xb address 0x0 sp 0x7ffd0000 base 0x1000 pc zz frames\n", {own}, false, "", 0},
      {"==diagnose== signal 0xb address 0x0 sp 0x7ffd0000 base 0x1000 pc 0x12345678901234567 frames\n",
       {own}, false, "", 0},
  };
  for (const row& r : rows) {
    const runtime_evidence e =
        read_evidence(r.output, source, "solution.c", true, lines_for(r.mapped));
    EXPECT_EQ(e.found, r.found) << r.output;
    if (!r.found || !e.found) continue;
    EXPECT_EQ(e.kind, r.kind) << r.output;
    EXPECT_EQ(e.line, r.line) << r.output;
  }
}

TEST(Evidence, AddressesAskedFor) {
  std::vector<uint64_t> asked;
  read_evidence("==diagnose== signal 0xb address 0x0 sp 0x10 base 0x1000 pc 0x1234 frames 0x1500 0x800\n",
                source, "solution.c", true, lines_for({}, &asked));
  // the faulting instruction as it is, return addresses one back, all from the load address;
  // an address below it is left out
  EXPECT_EQ(asked, (std::vector<uint64_t>{0x234, 0x4ff}));
  read_evidence("==diagnose== signal 0xb address 0x0 sp 0x10 base 0x400000 pc 0x401234 frames\n",
                source, "solution.c", false, lines_for({}, &asked));
  EXPECT_EQ(asked, (std::vector<uint64_t>{0x401234}));
}

TEST(Evidence, Json) {
  text_buffer b{};
  runtime_evidence none;
  evidence_json(&b, none);
  EXPECT_EQ(b.data, nullptr);
  runtime_evidence e;
  e.found = true;
  e.kind = "divide";
  e.line = 6;
  e.text = "return t[2] / \"x\";";
  e.message = "第 6 行：除数为 0。";
  evidence_json(&b, e);
  EXPECT_STREQ(b.data,
               ",\"evidence\":{\"kind\":\"divide\",\"line\":6,\"text\":\"return t[2] / \\\"x\\\";\","
               "\"message\":\"第 6 行：除数为 0。\"}");
  b_free(&b);
}

}  // namespace
