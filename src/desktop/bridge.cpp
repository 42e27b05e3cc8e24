#include "desktop/bridge.h"

#include <cstring>
#include <new>

#include "json/json.h"
#include "json/text_buffer.h"

const char* const save_invalid = "导出内容无效或过大。";
const char* const save_no_memory = "无法准备导出文件。";
const char* const save_not_saved = "文件未保存。";
const char* const save_no_create = "无法写入所选位置。";
const char* const save_short = "文件写入失败，请重新导出。";
const char* const save_done = "文件已保存到你选择的位置。";
const char* const window_title = "Tavrin · C99 编程练习室 · Qy9";
const char* const close_question = "界面暂未响应。仍然关闭？最近尚未保存的编辑可能丢失。";

std::string page_origin_of(const std::string& url) {
  std::string origin = url.substr(0, page_origin_limit);
  size_t slash = origin.size() > 7 ? origin.find('/', 7) : std::string::npos;
  if (slash != std::string::npos) origin.resize(slash);
  return origin;
}

bool same_origin(const std::string& origin, const char* uri) {
  if (!uri) return false;
  size_t n = origin.size();
  if (std::strncmp(uri, origin.c_str(), n) != 0) return false;
  return uri[n] == '\0' || uri[n] == '/';
}

page_message classify_message(const std::string& json_text) {
  if (json_text.empty() || json_text.size() + 1 > message_size_limit) return page_message::none;
  json_doc doc;
  if (!json_parse(&doc, json_text.c_str()) || doc.count == 0 || doc.tokens[0].type != 'o')
    return page_message::none;
  cstr type(j_str(&doc, j_get(&doc, 0, "type")));
  if (!type) return page_message::none;
  if (std::strcmp(type.get(), "ready") == 0) return page_message::ready;
  if (std::strcmp(type.get(), "close-ready") == 0) return page_message::close_ready;
  if (std::strcmp(type.get(), "close-cancel") == 0) return page_message::close_cancel;
  if (std::strcmp(type.get(), "save") == 0) return page_message::save;
  return page_message::none;
}

namespace {
int b64_value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
bool b64_blank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Calls put for every decoded byte; false when the text is not Base64.
template <typename Put>
bool b64_walk(const std::string& text, Put put) {
  size_t count = 0, pads = 0;
  for (unsigned char c : text) {
    if (b64_blank(c)) continue;
    if (c == '=') ++pads;
    else if (pads > 0 || b64_value(c) < 0) return false;
    ++count;
  }
  if (count % 4 != 0 || pads > 2) return false;
  unsigned acc = 0;
  int bits = 0;
  for (unsigned char c : text) {
    if (b64_blank(c) || c == '=') continue;
    acc = (acc << 6 | static_cast<unsigned>(b64_value(c))) & 0xFFFFFF;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      put(static_cast<unsigned char>(acc >> bits));
    }
  }
  return true;
}
}  // namespace

bool base64_decoded_size(const std::string& text, size_t* size) {
  size_t n = 0;
  if (!b64_walk(text, [&](unsigned char) { ++n; })) return false;
  *size = n;
  return true;
}

bool base64_decode(const std::string& text, unsigned char* out, size_t size) {
  size_t n = 0;
  bool valid = b64_walk(text, [&](unsigned char byte) {
    if (n < size) out[n] = byte;
    ++n;
  });
  return valid && n == size;
}

save_check check_save(const std::string& json_text, save_request* out, int* id) {
  *id = 0;
  json_doc doc;
  if (!json_parse(&doc, json_text.c_str())) return save_check::unreadable;
  *id = j_int(&doc, j_get(&doc, 0, "id"), 0);
  cstr name(j_str(&doc, j_get(&doc, 0, "name")));
  cstr data(j_str(&doc, j_get(&doc, 0, "data")));
  if (!name || !data) return save_check::invalid;
  if (std::strpbrk(name.get(), "\\/:*?\"<>|")) return save_check::invalid;
  if (std::strlen(name.get()) > export_name_limit) return save_check::invalid;
  std::string base64(data.get());
  size_t size = 0;
  if (!base64_decoded_size(base64, &size) || size > export_data_limit) return save_check::invalid;
  out->id = *id;
  out->name = name.get();
  try {
    out->data.resize(size);
  } catch (const std::bad_alloc&) {
    return save_check::no_memory;
  }
  if (!base64_decode(base64, out->data.data(), size)) return save_check::no_memory;
  return save_check::ok;
}

std::string save_reply_json(int id, bool ok, bool cancelled, const char* message) {
  text_buffer b{};
  b_fmt(&b, "{\"type\":\"file-saved\",\"id\":%d,\"ok\":%s,\"cancelled\":%s,\"message\":", id,
        ok ? "true" : "false", cancelled ? "true" : "false");
  b_json(&b, message);
  b_add(&b, "}");
  cstr text(b_release(&b));
  return text.get();
}

const char* export_folder(const std::string& name) {
  return name.find(".json") != std::string::npos ? "题库更新" : "我的代码";
}

const char* export_extension(const std::string& name) {
  return name.find(".json") != std::string::npos ? "json" : "c";
}

namespace {
int mul_div(int a, int b, int c) { return static_cast<int>((static_cast<int64_t>(a) * b + c / 2) / c); }
}  // namespace

rect_i window_rect(int dpi, rect_i work) {
  int width = mul_div(1380, dpi, 96);
  int height = mul_div(900, dpi, 96);
  if (width > work.width - 60) width = work.width - 60;
  if (height > work.height - 40) height = work.height - 40;
  return {work.x + (work.width - width) / 2, work.y + (work.height - height) / 2, width, height};
}
