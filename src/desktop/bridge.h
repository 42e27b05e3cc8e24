// What both window hosts share: the page's origin, the messages between the page
// and the host, the checks of an export request, and the window's size rules.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t page_url_limit = 2047;
constexpr size_t page_origin_limit = 127;
constexpr size_t message_size_limit = 8388608;  // UTF-8 bytes with the terminator
constexpr size_t export_name_limit = 100;        // bytes of UTF-8
constexpr size_t export_data_limit = 4194304;    // decoded bytes

// The start URL's origin: at most 127 characters, cut at the first "/" from index 7 on.
std::string page_origin_of(const std::string& url);

// true when uri is non-null, begins with origin and continues with nothing or "/".
bool same_origin(const std::string& origin, const char* uri);

enum class page_message { none, ready, close_ready, close_cancel, save };
// The kind of a message the page posted as JSON text; none for anything else
// (over the size limit, not JSON, no string "type", an unknown type).
page_message classify_message(const std::string& json_text);

// A "save" request, checked and decoded.
struct save_request {
  int id = 0;
  std::string name;                 // proposed file name (UTF-8)
  std::vector<unsigned char> data;  // the file's bytes
};
enum class save_check { unreadable, invalid, no_memory, ok };
// Parses and checks a "save" message in the order the answers depend on:
// unreadable: no reply at all; invalid: "导出内容无效或过大。";
// no_memory: "无法准备导出文件。"; ok: out holds the request.
save_check check_save(const std::string& json_text, save_request* out, int* id);

// Standard Base64 as the Windows decoder takes it: blanks and line ends are skipped,
// "=" only as the last one or two characters. false for anything else.
bool base64_decoded_size(const std::string& text, size_t* size);
bool base64_decode(const std::string& text, unsigned char* out, size_t size);

// Answers to a "save".
extern const char* const save_invalid;    // "导出内容无效或过大。"
extern const char* const save_no_memory;  // "无法准备导出文件。"
extern const char* const save_not_saved;  // "文件未保存。"
extern const char* const save_no_create;  // "无法写入所选位置。"
extern const char* const save_short;      // "文件写入失败，请重新导出。"
extern const char* const save_done;       // "文件已保存到你选择的位置。"
// {"type":"file-saved","id":..,"ok":..,"cancelled":..,"message":".."}
std::string save_reply_json(int id, bool ok, bool cancelled, const char* message);

// Folder inside the program folder and default extension the save dialog proposes.
const char* export_folder(const std::string& name);     // "题库更新" or "我的代码"
const char* export_extension(const std::string& name);  // "json" or "c"

// The window's rectangle: 1380x900 at 96 DPI, scaled by dpi/96, capped to the work
// area minus 60 by 40, centred in it.
struct rect_i {
  int x, y, width, height;
};
rect_i window_rect(int dpi, rect_i work);
constexpr int window_min_width = 900;
constexpr int window_min_height = 640;

// Closing texts shared by both hosts.
extern const char* const window_title;       // "Tavrin · C99 编程练习室 · Qy9"
extern const char* const close_question;     // "界面暂未响应。仍然关闭？最近尚未保存的编辑可能丢失。"
constexpr unsigned close_timeout_ms = 10000;
constexpr unsigned stop_poll_ms = 500;
