// Build-time tool: turns the authored exercise folders under bank/ into the bundled
// bank JSON, and refuses (naming the exercise) anything the program itself would refuse.
//
//   bank_assemble <bank folder> <output file>
//
// Layout of one exercise folder (any depth below the bank folder):
//   meta.json            {"id":..., "topic":1-9, "stars":1-5, "lang":"c"|"cpp", "compare":"tokens"|"float"}
//   text.md              "# title" then the sections 情境 / 任务 / 输入 / 输出 / 范围 ("## name")
//   starter.c|.cpp       starting code (extension must match lang)
//   reference.c|.cpp     reference solution
//   samples/N.in, N.out  N = 1, 2, ... without gaps
//   tests/N.in, N.out
//   hints.md             optional: "## 思路" then "## 关键一步", the page's help ladder before
//                        the reference solution
// Other files in the folder (ranges.txt, coverage.md, wrong/) are for the bank's own checks.
// The bank folder's own bank.json gives the bank's "title" and "revision".
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "json/json.h"
#include "store/store.h"

namespace fs = std::filesystem;

namespace {

struct failure {
  std::string where;
  std::string message;
};

struct exercise {
  std::string folder;  // relative to the bank folder, for messages
  std::string id;
  int topic = 0;
  int stars = 0;
  bool cpp = false;
  std::string json;    // the finished question object
};

// Text file with CR LF folded to LF, so a checkout with other line ends builds the same bank.
bool read_text(const fs::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream raw;
  raw << in.rdbuf();
  std::string text = raw.str();
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return true;
}

void json_string(std::string& out, const std::string& s) {
  out += '"';
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

std::string trim_blank_lines(const std::string& s) {
  size_t begin = 0;
  while (begin < s.size()) {
    size_t eol = s.find('\n', begin);
    if (eol == std::string::npos) break;
    if (s.find_first_not_of(" \t", begin) < eol) break;
    begin = eol + 1;
  }
  size_t end = s.find_last_not_of(" \t\n");
  if (end == std::string::npos || end < begin) return "";
  return s.substr(begin, end + 1 - begin);
}

// "# title" and the five "## section" blocks of text.md, keyed by bank member name.
bool parse_text(const std::string& text, std::map<std::string, std::string>& fields, std::string& error) {
  static const std::map<std::string, std::string> sections = {
      {"情境", "scenario"}, {"任务", "task"}, {"输入", "input"}, {"输出", "output"}, {"范围", "constraints"}};
  std::istringstream in(text);
  std::string line, current, body;
  auto flush = [&]() {
    if (!current.empty()) fields[current] = trim_blank_lines(body);
    body.clear();
  };
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) {
      flush();
      std::string name = trim_blank_lines(line.substr(3));
      auto it = sections.find(name);
      if (it == sections.end()) {
        error = "text.md 有未知的小节 \"" + name + "\"（只能是 情境、任务、输入、输出、范围）";
        return false;
      }
      if (fields.count(it->second)) {
        error = "text.md 的小节 \"" + name + "\" 出现了两次";
        return false;
      }
      current = it->second;
    } else if (line.rfind("# ", 0) == 0 && current.empty() && !fields.count("title")) {
      fields["title"] = trim_blank_lines(line.substr(2));
    } else if (current.empty()) {
      if (trim_blank_lines(line).empty()) continue;
      error = "text.md 须以 \"# 标题\" 开头，正文写在 \"## 小节\" 之下";
      return false;
    } else {
      body += line;
      body += '\n';
    }
  }
  flush();
  for (const char* need : {"title", "scenario", "task", "input", "output", "constraints"}) {
    if (!fields.count(need) || fields[need].empty()) {
      error = std::string("text.md 缺少或留空了 ") + need + " 部分";
      return false;
    }
  }
  return true;
}

// hints.md: the sections 思路 and 关键一步, in this order, each non-empty, as a JSON array.
bool parse_hints(const std::string& text, std::string& out, std::string& error) {
  static const char* const order[] = {"思路", "关键一步"};
  std::vector<std::string> bodies;
  std::istringstream in(text);
  std::string line, body;
  bool open = false;
  auto flush = [&]() {
    if (open) bodies.push_back(trim_blank_lines(body));
    body.clear();
  };
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) {
      flush();
      std::string name = trim_blank_lines(line.substr(3));
      if (bodies.size() >= std::size(order) || name != order[bodies.size()]) {
        error = "hints.md 的小节须依次是 思路、关键一步（遇到 \"" + name + "\"）";
        return false;
      }
      open = true;
    } else if (!open) {
      if (trim_blank_lines(line).empty()) continue;
      error = "hints.md 的正文须写在 \"## 思路\" 或 \"## 关键一步\" 之下";
      return false;
    } else {
      body += line;
      body += '\n';
    }
  }
  flush();
  if (bodies.size() != std::size(order)) {
    error = "hints.md 须有 思路 和 关键一步 两个小节";
    return false;
  }
  out = "[";
  for (size_t i = 0; i < bodies.size(); ++i) {
    if (bodies[i].empty()) {
      error = std::string("hints.md 的 ") + order[i] + " 是空的";
      return false;
    }
    if (i) out += ',';
    json_string(out, bodies[i]);
  }
  out += ']';
  return true;
}

// N.in / N.out pairs numbered from 1 without gaps, as a JSON array of case objects.
bool read_cases(const fs::path& folder, const char* kind, std::string& out, std::string& error) {
  fs::path dir = folder / kind;
  if (!fs::is_directory(dir)) {
    error = std::string("缺少 ") + kind + "/ 文件夹";
    return false;
  }
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) ++files;
  }
  out = "[";
  size_t n = 1;
  for (;; ++n) {
    fs::path in = dir / (std::to_string(n) + ".in");
    fs::path expected = dir / (std::to_string(n) + ".out");
    bool has_in = fs::exists(in), has_out = fs::exists(expected);
    if (!has_in && !has_out) break;
    if (!has_in || !has_out) {
      error = std::string(kind) + "/" + std::to_string(n) + " 只有 .in 或 .out 其中一个";
      return false;
    }
    std::string input, output;
    if (!read_text(in, input) || !read_text(expected, output)) {
      error = std::string("无法读取 ") + kind + "/" + std::to_string(n);
      return false;
    }
    if (n > 1) out += ',';
    out += "{\"input\":";
    json_string(out, input);
    out += ",\"output\":";
    json_string(out, output);
    out += '}';
  }
  out += ']';
  if (files != 2 * (n - 1)) {
    error = std::string(kind) + "/ 中有多余的文件，或编号不是从 1 连续排列";
    return false;
  }
  return true;
}

std::string meta_string(const json_doc& doc, const char* key) {
  cstr value(j_str(&doc, j_get(&doc, 0, key)));
  return value ? value.get() : "";
}

bool build_exercise(const fs::path& root, const fs::path& folder, exercise& ex, std::string& error) {
  ex.folder = fs::relative(folder, root).generic_string();
  std::string meta_text;
  if (!read_text(folder / "meta.json", meta_text)) {
    error = "无法读取 meta.json";
    return false;
  }
  json_doc meta;
  if (!json_parse(&meta, meta_text.c_str()) || meta.count < 1 || meta.tokens[0].type != 'o') {
    error = "meta.json 不是 JSON 对象";
    return false;
  }
  ex.id = meta_string(meta, "id");
  ex.topic = j_int(&meta, j_get(&meta, 0, "topic"), 0);
  ex.stars = j_int(&meta, j_get(&meta, 0, "stars"), 0);
  std::string lang = meta_string(meta, "lang");
  std::string compare = meta_string(meta, "compare");
  if (ex.id != folder.filename().generic_string()) {
    error = "meta.json 的 id 须与文件夹名相同";
    return false;
  }
  if (lang != "c" && lang != "cpp") {
    error = "meta.json 须写明 lang 为 c 或 cpp";
    return false;
  }
  ex.cpp = lang == "cpp";
  std::map<std::string, std::string> fields;
  std::string text;
  if (!read_text(folder / "text.md", text)) {
    error = "无法读取 text.md";
    return false;
  }
  if (!parse_text(text, fields, error)) return false;
  std::string ext = lang == "cpp" ? ".cpp" : ".c";
  std::string other = lang == "cpp" ? ".c" : ".cpp";
  for (const char* code : {"starter", "reference"}) {
    if (fs::exists(folder / (code + other))) {
      error = std::string(code) + other + " 与 lang \"" + lang + "\" 不符";
      return false;
    }
    if (!read_text(folder / (code + ext), fields[code])) {
      error = std::string("缺少 ") + code + ext;
      return false;
    }
  }
  std::string samples, tests;
  if (!read_cases(folder, "samples", samples, error) || !read_cases(folder, "tests", tests, error)) return false;
  std::string hints;
  if (fs::exists(folder / "hints.md")) {
    std::string hints_text;
    if (!read_text(folder / "hints.md", hints_text)) {
      error = "无法读取 hints.md";
      return false;
    }
    if (!parse_hints(hints_text, hints, error)) return false;
  }

  std::string& q = ex.json;
  q = "{\"id\":";
  json_string(q, ex.id);
  q += ",\"topic\":" + std::to_string(ex.topic) + ",\"stars\":" + std::to_string(ex.stars) + ",\"lang\":";
  json_string(q, lang);
  q += ",\"compare\":";
  json_string(q, compare);
  for (const char* key : {"title", "scenario", "task", "input", "output", "constraints", "starter", "reference"}) {
    q += ",\"";
    q += key;
    q += "\":";
    json_string(q, fields[key]);
  }
  if (!hints.empty()) q += ",\"hints\":" + hints;
  q += ",\"samples\":" + samples + ",\"tests\":" + tests + "}";
  return true;
}

std::string bank_text(const std::string& title, const std::string& revision, const std::vector<const std::string*>& questions) {
  std::string out = "{\"version\":1,\"title\":";
  json_string(out, title);
  out += ",\"revision\":";
  json_string(out, revision);
  out += ",\"questions\":[\n";
  for (size_t i = 0; i < questions.size(); ++i) {
    out += *questions[i];
    out += i + 1 < questions.size() ? ",\n" : "\n";
  }
  out += "]}\n";
  return out;
}

// The program's own validator, so the build refuses exactly what the program would.
bool validate(const std::string& text, std::string& message) {
  cstr result(bank_validate(text.c_str()));
  if (!result) return true;
  message = result.get();
  return false;
}

int fail(const failure& f) {
  std::fprintf(stderr, "bank: %s: %s\n", f.where.c_str(), f.message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bank_assemble <bank folder> <output file>\n");
    return 2;
  }
  fs::path root = argv[1];
  fs::path output = argv[2];
  std::error_code ec;
  fs::remove(output, ec);  // a failed run must not leave an old bank that looks current

  std::string head_text;
  if (!read_text(root / "bank.json", head_text)) return fail({"bank.json", "无法读取题库标题文件"});
  json_doc head;
  if (!json_parse(&head, head_text.c_str())) return fail({"bank.json", "不是有效 JSON"});
  std::string title = meta_string(head, "title"), revision = meta_string(head, "revision");
  if (title.empty()) return fail({"bank.json", "缺少 title"});

  std::vector<fs::path> folders;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_regular_file() && it->path().filename() == "meta.json") folders.push_back(it->path().parent_path());
  }
  std::vector<exercise> exercises;
  std::map<std::string, std::string> seen;  // id -> folder
  for (const auto& folder : folders) {
    exercise ex;
    std::string error;
    if (!build_exercise(root, folder, ex, error)) return fail({fs::relative(folder, root).generic_string(), error});
    if (seen.count(ex.id)) return fail({ex.folder, "id 与 " + seen[ex.id] + " 重复"});
    seen[ex.id] = ex.folder;
    std::string message;
    if (!validate(bank_text(title, revision, {&ex.json}), message)) return fail({ex.folder, message});
    exercises.push_back(std::move(ex));
  }
  if (exercises.empty()) return fail({root.generic_string(), "没有找到任何题目"});
  std::sort(exercises.begin(), exercises.end(), [](const exercise& a, const exercise& b) {
    if (a.topic != b.topic) return a.topic < b.topic;
    if (a.cpp != b.cpp) return !a.cpp;  // in each topic the C exercises come first, then C++
    if (a.stars != b.stars) return a.stars < b.stars;
    return a.id < b.id;
  });
  std::vector<const std::string*> questions;
  for (const auto& ex : exercises) questions.push_back(&ex.json);
  std::string bank = bank_text(title, revision, questions);
  std::string message;
  if (!validate(bank, message)) return fail({"bank.json", message});

  fs::path partial = output;
  partial += ".tmp";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(bank.data(), static_cast<std::streamsize>(bank.size()));
    if (!out.flush()) return fail({output.generic_string(), "无法写出题库"});
  }
  fs::rename(partial, output, ec);
  if (ec) return fail({output.generic_string(), "无法写出题库"});
  std::printf("bank: %zu exercises -> %s\n", exercises.size(), output.generic_string().c_str());
  return 0;
}
