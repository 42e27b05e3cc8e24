// Arbitrary bytes through the parser; on success every token is walked with every getter and
// the document's structure is checked.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json/json.h"
#include "json/text_buffer.h"

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

// Structure of the value at i; the index after it.
int walk(const json_doc& doc, int i, size_t len) {
  const json_token& t = doc.tokens[i];
  require(t.next > i && t.next <= doc.count);
  require(t.start >= 0 && t.start <= t.end && static_cast<size_t>(t.end) <= len);
  if (t.type == 's') {
    require(t.next == i + 1 && t.size == 0);
    require(doc.text[t.start - 1] == '"' && doc.text[t.end] == '"');
    return i + 1;
  }
  if (t.type == 'p') {
    require(t.next == i + 1 && t.size == 0 && t.end > t.start);
    return i + 1;
  }
  require(t.type == 'o' || t.type == 'a');
  require(doc.text[t.start] == (t.type == 'o' ? '{' : '['));
  require(doc.text[t.end - 1] == (t.type == 'o' ? '}' : ']'));
  int children = 0;
  int k = i + 1;
  while (k < t.next) {
    if (t.type == 'o' && children % 2 == 0) require(doc.tokens[k].type == 's');
    k = walk(doc, k, len);
    ++children;
  }
  require(k == t.next && children == t.size);
  return k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  const size_t len = std::strlen(text.c_str());  // what the parser sees
  json_doc doc;
  if (json_parse(&doc, text.c_str()) != 1) {
    require(doc.failed == 1 && doc.count <= doc.capacity);
    // Getters on the half-built tokens of a failed parse must stay inside the text.
    for (int i = 0; i < doc.count && i < 64; ++i) {
      std::free(j_raw(&doc, i));
      std::free(j_str(&doc, i));
      j_get(&doc, i, "a");
    }
    return 0;
  }
  require(doc.failed == 0 && doc.count >= 1);
  require(walk(doc, 0, len) == doc.count);
  for (int i = 0; i < doc.count; ++i) {
    cstr raw(j_raw(&doc, i));
    require(raw != nullptr);
    j_int(&doc, i, 0);
    cstr s(j_str(&doc, i));
    if (s) {
      // A decoded string written back and parsed again decodes to the same bytes.
      text_buffer b{};
      b_json(&b, s.get());
      json_doc again;
      require(json_parse(&again, b.data) == 1);
      cstr back(j_str(&again, 0));
      require(back && std::strcmp(back.get(), s.get()) == 0);
      b_free(&b);
    }
    if (doc.tokens[i].type == 'o') {
      // Every key of the object is found, unless an earlier equal key shadows it.
      for (int k = i + 1; k < doc.tokens[i].next; k = doc.tokens[k + 1].next) {
        cstr key(j_str(&doc, k));
        if (!key) continue;
        int v = j_get(&doc, i, key.get());
        require(v > i && v <= k + 1);
        cstr found(j_str(&doc, v - 1));
        require(found && std::strcmp(found.get(), key.get()) == 0);
      }
    }
  }
  return 0;
}
