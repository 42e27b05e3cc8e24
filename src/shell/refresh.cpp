#include "shell/refresh.h"

#include <cstdio>

const char* const owned_document_names[3] = {"安装与更新说明.md", "云端账号使用说明.md", "使用说明.md"};

const char* shortcut_display(link_kind kind, const std::string& arguments) {
  switch (kind) {
    case link_kind::document0: return "Tavrin · 安装与更新说明";
    case link_kind::document1: return "Tavrin · 账号与同步";
    case link_kind::document2: return "Tavrin · 使用说明";
    case link_kind::uninstaller: return "卸载Tavrin";
    case link_kind::program: break;
  }
  if (arguments.find("--browser") != std::string::npos) return "Tavrin · 浏览器模式";
  if (arguments.find("--stop") != std::string::npos) return "停止Tavrin";
  return "Tavrin";
}

std::string backup_file_name(uint32_t hash, const char* extension) {
  char name[9];
  snprintf(name, sizeof name, "%08x", hash);
  return name + std::string(extension);
}
