// The import's pure steps: the argument taken from the command line, the merged bank and
// the list of questions whose judging basis did not change.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/import_merge.h"
#include "json/json.h"
#include "platform/fs.h"

namespace {

const bool windows_units = plat::path_sep == '\\';

struct arg_case {
  const char* name;
  std::string line;
  std::optional<std::string> path;
};

TEST(ImportArgument, TakesThePathAfterTheOption) {
  const std::string p259(259, 'p');
  const std::string p260(260, 'p');
  // 100 Chinese characters: 300 bytes, 100 UTF-16 units.
  std::string chinese;
  for (int i = 0; i < 100; ++i) chinese += "题";
  const std::vector<arg_case> cases = {
      {"unquoted", "tavrin --import-bank /tmp/new.json", "/tmp/new.json"},
      {"unquoted ends at a space", "tavrin --import-bank /tmp/my bank.json", "/tmp/my"},
      {"a tab does not end it", "tavrin --import-bank a\tb.json x", "a\tb.json"},
      {"blanks before the path", "tavrin --import-bank \t  \t pkg.json", "pkg.json"},
      {"quoted keeps spaces", "tavrin --import-bank \"C:\\My Banks\\new bank.json\" --x",
       "C:\\My Banks\\new bank.json"},
      {"quoted without closing quote", "tavrin --import-bank \"/tmp/a b.json", "/tmp/a b.json"},
      {"quote right after the option", "x --import-bank\"q r.json\"", "q r.json"},
      {"glued unquoted", "x --import-bankfile.json", "file.json"},
      {"option anywhere", "\"C:\\app\\Tavrin.exe\" --no-browser --import-bank b.json",
       "b.json"},
      {"first occurrence counts", "x --import-bank a.json --import-bank b.json", "a.json"},
      {"relative path unchanged", "x --import-bank ../x/./y.json", "../x/./y.json"},
      {"259 units", "x --import-bank " + p259, p259},
      {"260 units", "x --import-bank " + p260, std::nullopt},
      {"nothing after the option", "tavrin --import-bank", std::nullopt},
      {"only blanks after it", "tavrin --import-bank  \t ", std::nullopt},
      {"empty quotes", "tavrin --import-bank \"\" more", std::nullopt},
      {"two spaces then nothing useful", "tavrin --import-bank \"", std::nullopt},
      {"option absent", "tavrin --import bank.json", std::nullopt},
      {"units counted as the system does", "x --import-bank " + chinese,
       windows_units ? std::optional<std::string>(chinese) : std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(import_argument(c.line), c.path) << c.name;
  }
}

TEST(ImportAppRoot, CutsAtTheLastSeparator) {
  const std::string sep(1, plat::path_sep);
  const std::string exe = sep + "opt" + sep + "ta vrin" + sep + "tavrin";
  EXPECT_EQ(import_app_root(exe), sep + "opt" + sep + "ta vrin");
  EXPECT_EQ(import_app_root(""), std::nullopt);
  EXPECT_EQ(import_app_root("tavrin"), std::nullopt) << "no separator";
  const std::string long199 = sep + std::string(198, 'a');
  const std::string long200 = sep + std::string(199, 'a');
  EXPECT_EQ(import_app_root(long199), std::string());
  EXPECT_EQ(import_app_root(long200), std::nullopt);
}

// A question written with deliberately odd layout, so that copies can be told from rewrites.
std::string question(const std::string& id, const std::string& tests_json,
                     const std::string& compare_member = "\"compare\" :\"tokens\"",
                     const std::string& extra = "") {
  return "{ \"id\":\"" + id + "\" ,\n\t" + compare_member + ", \"tests\" : " + tests_json +
         extra + "  }";
}
const std::string three_tests =
    "[{\"input\":\"1\",\"output\":\"2\"},{\"input\":\"3\",\"output\":\"4\"},"
    "{\"input\":\"\",\"output\":\"\"}]";

std::string bank(const std::vector<std::string>& questions,
                 const std::string& head = "\"version\":1,\"title\":\"T\",\"revision\":\"r\"") {
  std::string s = "{" + head + ",\"questions\":[";
  for (size_t i = 0; i < questions.size(); ++i) s += (i ? " ,\n " : "") + questions[i];
  return s + "]}";
}

const std::string head_tr = "{\"version\":1,\"title\":\"T\",\"revision\":\"r\",\"questions\":[";

TEST(BankMerge, PackageFirstThenInstalledQuestionsItLacks) {
  const std::string a_new = question("a", three_tests, "\"compare\":\"float\"");
  const std::string a_old = question("a", three_tests);
  const std::string b_old = question("b", three_tests);
  const std::string c_new = question("c", three_tests);
  const std::string d_old = question("d", three_tests, "\"compare\":\"tokens\"", ",\"x\":[1, 2]");
  struct merge_case {
    const char* name;
    std::string package;
    std::optional<std::string> installed;
    std::optional<std::string> merged;
  };
  const std::vector<merge_case> cases = {
      {"no installed bank", bank({a_new, c_new}), std::nullopt,
       head_tr + a_new + "," + c_new + "]}"},
      {"kept and replaced", bank({c_new, a_new}), bank({a_old, b_old, d_old}),
       head_tr + c_new + "," + a_new + "," + b_old + "," + d_old + "]}"},
      {"installed question without a string id is dropped", bank({a_new}),
       bank({"{\"id\":7}", "{\"name\":\"b\"}", "[1]", b_old}), head_tr + a_new + "," + b_old + "]}"},
      {"ids compared after unescaping", bank({a_new}),
       bank({question("\\u0061", three_tests), b_old}), head_tr + a_new + "," + b_old + "]}"},
      {"installed duplicates are compared only with the package", bank({a_new}),
       bank({b_old, b_old}), head_tr + a_new + "," + b_old + "," + b_old + "]}"},
      {"installed bank that does not parse", bank({a_new}), std::string("{oops"),
       head_tr + a_new + "]}"},
      {"installed questions not an array", bank({a_new}), std::string("{\"questions\":{}}"),
       head_tr + a_new + "]}"},
      {"other members dropped, head fixed",
       bank({a_new}, "\"zz\":{\"q\":1},\"revision\":\"r\",\"version\":1,\"title\":\"T\""),
       bank({b_old}, "\"version\":1,\"extra\":true"), head_tr + a_new + "," + b_old + "]}"},
      {"title and revision fall back", bank({a_new}, "\"version\":1,\"revision\":2"),
       std::nullopt,
       "{\"version\":1,\"title\":\"Tavrin\",\"revision\":\"\",\"questions\":[" + a_new + "]}"},
      {"title re-escaped", bank({a_new}, "\"title\":\"\\u4e2d \\\"q\\\"\",\"revision\":\"\""),
       std::nullopt,
       "{\"version\":1,\"title\":\"中 \\\"q\\\"\",\"revision\":\"\",\"questions\":[" + a_new +
           "]}"},
      {"package does not parse", "{\"questions\":[", std::nullopt, std::nullopt},
      {"package without questions", "{\"version\":1}", std::nullopt, std::nullopt},
      {"package questions not an array", "{\"questions\":\"a\"}", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    auto merged = bank_merge(c.package.c_str(), c.installed ? c.installed->c_str() : nullptr);
    EXPECT_EQ(merged, c.merged) << c.name;
    if (merged) {
      json_doc doc;
      EXPECT_EQ(json_parse(&doc, merged->c_str()), 1) << c.name;
    }
  }
}

TEST(RestampList, ListsQuestionsWhoseTestsAndCompareAreUnchanged) {
  const std::string base = question("q", three_tests);
  struct basis_case {
    const char* name;
    std::string installed_question;
    std::string merged_question;
    bool listed;
  };
  const std::vector<basis_case> cases = {
      {"unchanged, other members changed", base,
       question("q", three_tests, "\"compare\":\"tokens\"", ",\"title\":\"new\""), true},
      {"same after unescaping", base,
       question("q", "[{\"input\":\"\\u0031\",\"output\":\"2\"},{\"input\":\"3\",\"output\":"
                     "\"4\"},{\"output\":\"\",\"input\":\"\"}]"),
       true},
      {"compare changed", base, question("q", three_tests, "\"compare\":\"float\""), false},
      {"compare missing on both", question("q", three_tests, "\"c\":1"),
       question("q", three_tests, "\"c\":1"), false},
      {"compare not a string", question("q", three_tests, "\"compare\":1"),
       question("q", three_tests, "\"compare\":1"), false},
      {"one test more", base,
       question("q", "[{\"input\":\"1\",\"output\":\"2\"},{\"input\":\"3\",\"output\":\"4\"},"
                     "{\"input\":\"\",\"output\":\"\"},{\"input\":\"\",\"output\":\"\"}]"),
       false},
      {"an input changed", base,
       question("q", "[{\"input\":\"1\",\"output\":\"2\"},{\"input\":\"3 \",\"output\":\"4\"},"
                     "{\"input\":\"\",\"output\":\"\"}]"),
       false},
      {"an output changed", base,
       question("q", "[{\"input\":\"1\",\"output\":\"2\"},{\"input\":\"3\",\"output\":\"4\"},"
                     "{\"input\":\"\",\"output\":\"\\n\"}]"),
       false},
      {"test order changed", base,
       question("q", "[{\"input\":\"3\",\"output\":\"4\"},{\"input\":\"1\",\"output\":\"2\"},"
                     "{\"input\":\"\",\"output\":\"\"}]"),
       false},
      {"output not a string on both sides",
       question("q", "[{\"input\":\"1\",\"output\":2},{\"input\":\"3\",\"output\":\"4\"},"
                     "{\"input\":\"\",\"output\":\"\"}]"),
       question("q", "[{\"input\":\"1\",\"output\":2},{\"input\":\"3\",\"output\":\"4\"},"
                     "{\"input\":\"\",\"output\":\"\"}]"),
       false},
      {"tests missing on both", "{\"id\":\"q\",\"compare\":\"tokens\"}",
       "{\"id\":\"q\",\"compare\":\"tokens\"}", false},
      {"new question", question("old", three_tests), base, false},
  };
  for (const auto& c : cases) {
    const std::string installed = bank({c.installed_question});
    const std::string merged = bank({c.merged_question});
    EXPECT_EQ(restamp_list(installed.c_str(), merged.c_str()),
              std::string(c.listed ? "q\n" : ""))
        << c.name;
  }
}

TEST(RestampList, FollowsMergedOrderAndFirstInstalledNamesake) {
  const std::string other_tests =
      "[{\"input\":\"9\",\"output\":\"9\"},{\"input\":\"\",\"output\":\"\"},"
      "{\"input\":\"\",\"output\":\"\"}]";
  const std::string installed =
      bank({question("b", three_tests), question("a", three_tests), question("a", other_tests),
            question("c", other_tests)});
  const std::string merged =
      bank({question("c", three_tests), question("a", three_tests), question("new", three_tests),
            question("b", three_tests), "{\"no\":\"id\"}"});
  EXPECT_EQ(restamp_list(installed.c_str(), merged.c_str()), std::string("a\nb\n"));
  // Same basis but the later installed "a" differs: only the first namesake counts.
  const std::string merged_a2 = bank({question("a", other_tests)});
  EXPECT_EQ(restamp_list(installed.c_str(), merged_a2.c_str()), std::string(""));
}

TEST(RestampList, NoListWithoutParsableBanks) {
  const std::string ok = bank({question("a", three_tests)});
  EXPECT_EQ(restamp_list("{oops", ok.c_str()), std::nullopt);
  EXPECT_EQ(restamp_list(ok.c_str(), "[1,2"), std::nullopt);
  EXPECT_EQ(restamp_list("{\"version\":1}", ok.c_str()), std::nullopt);
  EXPECT_EQ(restamp_list(ok.c_str(), "[]"), std::nullopt);
  EXPECT_EQ(restamp_list(ok.c_str(), ok.c_str()), std::string("a\n"));
}

}  // namespace
