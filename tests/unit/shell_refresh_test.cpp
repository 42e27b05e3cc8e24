// The names the program's shortcuts get, and the backup names, on both platforms.
#include <gtest/gtest.h>

#include <string>

#include "shell/refresh.h"

namespace {

struct name_case {
  link_kind kind;
  const char* arguments;
  const char* display;
};

TEST(ShortcutNames, ByTargetAndArguments) {
  const name_case cases[] = {
      {link_kind::document0, "--browser", "Tavrin · 安装与更新说明"},
      {link_kind::document1, "", "Tavrin · 账号与同步"},
      {link_kind::document2, "--stop", "Tavrin · 使用说明"},
      {link_kind::uninstaller, "--browser", "卸载Tavrin"},
      {link_kind::program, "--browser", "Tavrin · 浏览器模式"},
      {link_kind::program, "--stop --browser", "Tavrin · 浏览器模式"},
      {link_kind::program, "x--browsery", "Tavrin · 浏览器模式"},  // a plain substring search
      {link_kind::program, "--stop", "停止Tavrin"},
      {link_kind::program, "--Browser --STOP", "Tavrin"},       // case counts
      {link_kind::program, "--no-browser", "Tavrin"},           // "--no-browser" holds no "--browser"
      {link_kind::program, "", "Tavrin"},
  };
  for (const name_case& c : cases)
    EXPECT_STREQ(shortcut_display(c.kind, c.arguments), c.display) << c.arguments;
  // The dot is U+00B7 with one blank on each side.
  EXPECT_EQ(std::string(shortcut_display(link_kind::program, "--browser")), "Tavrin \xC2\xB7 浏览器模式");
}

TEST(ShortcutNames, DocumentsInOrder) {
  EXPECT_STREQ(owned_document_names[0], "安装与更新说明.md");
  EXPECT_STREQ(owned_document_names[1], "云端账号使用说明.md");
  EXPECT_STREQ(owned_document_names[2], "使用说明.md");
}

TEST(BackupNames, Fnv1aOverUtf16Units) {
  EXPECT_EQ(backup_file_name(fnv1a_units(std::u16string(u"")), ".lnk"), "811c9dc5.lnk");
  EXPECT_EQ(backup_file_name(fnv1a_units(std::u16string(u"C:\\app")), ".lnk"), "71f1e20f.lnk");
  // Units are taken whole (over UTF-8 bytes the same path would give 7069b46e).
  EXPECT_EQ(backup_file_name(fnv1a_units(std::u16string(u"C:\\用户\\Tavrin · 浏览器模式.lnk")), ".lnk"),
            "bb0917b6.lnk");
  EXPECT_EQ(backup_file_name(0x0000abcd, ".desktop"), "0000abcd.desktop");
}

}  // namespace
