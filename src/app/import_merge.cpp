#include "app/import_merge.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "json/json.h"
#include "json/text_buffer.h"
#include "platform/fs.h"
#include "platform/locate.h"

namespace {

// Owns a text buffer until its bytes are taken.
struct buffer_owner {
  text_buffer b{};
  ~buffer_owner() { b_free(&b); }
  std::string take() {
    cstr s(b_release(&b));
    return std::string(s.get());
  }
};

// Index of the root's "questions" array, or -1.
int questions_array(const json_doc& doc) {
  int q = j_get(&doc, 0, "questions");
  return (q >= 0 && doc.tokens[q].type == 'a') ? q : -1;
}

// Calls f(index) for each element of the array token arr, in order.
template <class F>
void for_each_element(const json_doc& doc, int arr, F f) {
  int i = arr + 1;
  for (int n = 0; n < doc.tokens[arr].size; ++n) {
    f(i);
    i = doc.tokens[i].next;
  }
}

// The member's string value unescaped, or nullopt when it is missing or not a string.
std::optional<std::string> string_member(const json_doc& doc, int object, const char* key) {
  cstr s(j_str(&doc, j_get(&doc, object, key)));
  if (!s) return std::nullopt;
  return std::string(s.get());
}

// Both values are strings with the same unescaped text (the parser refuses an escaped NUL,
// so the unescaped copies are whole).
bool same_string(const json_doc& a, int ia, const json_doc& b, int ib) {
  if (ia < 0 || ib < 0 || a.tokens[ia].type != 's' || b.tokens[ib].type != 's') return false;
  cstr sa(j_str(&a, ia)), sb(j_str(&b, ib));
  return sa && sb && std::strcmp(sa.get(), sb.get()) == 0;
}

// Same "tests" (count, and every input and output) and the same "compare".
bool same_judging_basis(const json_doc& a, int qa, const json_doc& b, int qb) {
  int ta = j_get(&a, qa, "tests"), tb = j_get(&b, qb, "tests");
  if (ta < 0 || tb < 0 || a.tokens[ta].type != 'a' || b.tokens[tb].type != 'a') return false;
  if (a.tokens[ta].size != b.tokens[tb].size) return false;
  int ca = ta + 1, cb = tb + 1;
  for (int n = 0; n < a.tokens[ta].size; ++n) {
    if (!same_string(a, j_get(&a, ca, "input"), b, j_get(&b, cb, "input"))) return false;
    if (!same_string(a, j_get(&a, ca, "output"), b, j_get(&b, cb, "output"))) return false;
    ca = a.tokens[ca].next;
    cb = b.tokens[cb].next;
  }
  return same_string(a, j_get(&a, qa, "compare"), b, j_get(&b, qb, "compare"));
}

}  // namespace

std::optional<std::string> import_argument(std::string_view line) {
  static constexpr std::string_view option = "--import-bank";
  size_t at = line.find(option);
  if (at == std::string_view::npos) return std::nullopt;
  size_t i = at + option.size();
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  std::string_view path;
  if (i < line.size() && line[i] == '"') {
    size_t close = line.find('"', i + 1);
    path = line.substr(i + 1, close == std::string_view::npos ? std::string_view::npos
                                                             : close - (i + 1));
  } else {
    size_t space = line.find(' ', i);
    path = line.substr(i, space == std::string_view::npos ? std::string_view::npos : space - i);
  }
  size_t units = plat::path_units(path);
  if (units < 1 || units > static_cast<size_t>(import_path_max_units)) return std::nullopt;
  return std::string(path);
}

std::optional<std::string> import_app_root(const std::string& exe) {
  size_t units = plat::path_units(exe);
  if (units < 1 || units > static_cast<size_t>(import_exe_max_units)) return std::nullopt;
  size_t cut = exe.rfind(plat::path_sep);
  if (cut == std::string::npos) return std::nullopt;
  return exe.substr(0, cut);
}

std::optional<std::string> bank_merge(const char* package, const char* installed) {
  json_doc pkg;
  if (!json_parse(&pkg, package)) return std::nullopt;
  int pq = questions_array(pkg);
  if (pq < 0) return std::nullopt;

  cstr title(j_str(&pkg, j_get(&pkg, 0, "title")));
  cstr revision(j_str(&pkg, j_get(&pkg, 0, "revision")));
  buffer_owner out;
  b_add(&out.b, "{\"version\":1,\"title\":");
  b_json(&out.b, title ? title.get() : "Tavrin");
  b_add(&out.b, ",\"revision\":");
  b_json(&out.b, revision ? revision.get() : "");
  b_add(&out.b, ",\"questions\":[");

  bool first = true;
  auto append = [&](const json_doc& doc, int index) {
    cstr raw(j_raw(&doc, index));
    if (!first) b_add(&out.b, ",");
    b_add(&out.b, raw ? raw.get() : "null");
    first = false;
  };

  std::unordered_set<std::string> package_ids;
  for_each_element(pkg, pq, [&](int q) {
    append(pkg, q);
    if (auto id = string_member(pkg, q, "id")) package_ids.insert(std::move(*id));
  });

  if (installed) {
    json_doc old;
    int oq = json_parse(&old, installed) ? questions_array(old) : -1;
    if (oq >= 0) {
      for_each_element(old, oq, [&](int q) {
        auto id = string_member(old, q, "id");
        if (id && !package_ids.count(*id)) append(old, q);
      });
    }
  }
  b_add(&out.b, "]}");
  return out.take();
}

std::optional<std::string> restamp_list(const char* installed, const char* merged) {
  json_doc old, now;
  if (!json_parse(&old, installed) || !json_parse(&now, merged)) return std::nullopt;
  int oq = j_get(&old, 0, "questions"), nq = j_get(&now, 0, "questions");
  if (oq < 0 || nq < 0) return std::nullopt;

  // First installed question of each id.
  std::unordered_map<std::string, int> installed_by_id;
  if (old.tokens[oq].type == 'a') {
    for_each_element(old, oq, [&](int q) {
      if (auto id = string_member(old, q, "id")) installed_by_id.emplace(std::move(*id), q);
    });
  }

  std::string list;
  if (now.tokens[nq].type == 'a') {
    for_each_element(now, nq, [&](int q) {
      auto id = string_member(now, q, "id");
      if (!id) return;
      auto found = installed_by_id.find(*id);
      if (found == installed_by_id.end()) return;
      if (!same_judging_basis(old, found->second, now, q)) return;
      list += *id;
      list += '\n';
    });
  }
  return list;
}
