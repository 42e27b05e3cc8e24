// The WebView2 loader's text handling: versions read from the registry and from file
// names, the folders it accepts, and the order it searches the channels in.
#include <gtest/gtest.h>

#include <string>

#include "desktop/loader/runtime_search.h"

using namespace wv2loader;

TEST(LoaderVersion, ParsesOnlyFourPlainNumbers) {
  struct row {
    const wchar_t* text;
    bool ok;
    version v;
  };
  const row rows[] = {
      {L"120.0.2210.91", true, {{120, 0, 2210, 91}}},
      {L"86.0.616.0", true, {{86, 0, 616, 0}}},
      {L"0.0.0.0", true, {{0, 0, 0, 0}}},
      {L"65535.65535.65535.65535", true, {{65535, 65535, 65535, 65535}}},
      {L"65536.0.0.0", false, {}},           // beyond a file version's 16 bits
      {L"4294967297.0.0.0", false, {}},      // would wrap a 32-bit number
      {L"000001.0.0.0", false, {}},          // six digits
      {L"120.0.2210", false, {}},            // three parts
      {L"120.0.2210.91.1", false, {}},       // five parts
      {L"120.0.2210.91 ", false, {}},        // trailing blank
      {L" 120.0.2210.91", false, {}},
      {L"120..2210.91", false, {}},          // empty part
      {L"120.0.2210.", false, {}},
      {L"+120.0.2210.91", false, {}},
      {L"-1.0.0.0", false, {}},
      {L"120.0.2210.91beta", false, {}},
      {L"", false, {}},
      {L"\x0661\x0662\x0660.0.0.0", false, {}},  // Arabic-Indic digits are not ours
  };
  for (const row& r : rows) {
    auto got = parse_version(r.text);
    EXPECT_EQ(got.has_value(), r.ok) << std::string(r.text, r.text + wcslen(r.text));
    if (got && r.ok) {
      EXPECT_EQ(*got, r.v);
    }
  }
  EXPECT_EQ(version_text({{120, 0, 2210, 91}}), L"120.0.2210.91");
}

TEST(LoaderVersion, RegisteredFolderMustBeAbsoluteAndNewEnough) {
  struct row {
    const wchar_t* folder;
    bool accepted;
  };
  const row rows[] = {
      {L"C:\\Program Files (x86)\\Microsoft\\EdgeWebView\\Application\\120.0.2210.91", true},
      {L"C:\\Program Files (x86)\\Microsoft\\EdgeWebView\\Application\\120.0.2210.91\\", true},
      {L"c:/Users/x/AppData/Local/Microsoft/EdgeWebView/Application/121.0.1.0", true},
      {L"\\\\server\\share\\EdgeWebView\\120.0.2210.91", true},
      {L"C:\\x\\86.0.616.0", true},            // exactly the minimum
      {L"C:\\x\\86.0.615.99", false},          // just below
      {L"C:\\x\\85.9.9999.0", false},
      {L"C:\\x\\9.0.616.0", false},            // compared as numbers, not as text
      {L"120.0.2210.91", false},               // relative: would be looked up from the current folder
      {L"Application\\120.0.2210.91", false},
      {L"\\Application\\120.0.2210.91", false}, // rooted on the current drive
      {L"C:Application\\120.0.2210.91", false}, // drive-relative
      {L"\\\\?\\C:\\x\\120.0.2210.91", false},  // device paths
      {L"\\\\.\\C:\\x\\120.0.2210.91", false},
      {L"C:\\x\\..\\120.0.2210.91", false},
      {L"C:\\x\\.\\120.0.2210.91", false},
      {L"C:\\x\\120.0.2210.91\\..", false},
      {L"C:\\x\\120.0.2210.91\nC:\\y", false},
      {L"C:\\x\\not-a-version", false},
      {L"", false},
  };
  for (const row& r : rows) {
    EXPECT_EQ(registered_version(r.folder).has_value(), r.accepted)
        << std::string(r.folder, r.folder + wcslen(r.folder));
  }
  EXPECT_FALSE(registered_version(L"C:\\" + std::wstring(40000, L'a') + L"\\120.0.2210.91"));
}

TEST(LoaderPaths, ClientLibraryIsInsideTheRuntimeFolder) {
  EXPECT_EQ(client_library(L"C:\\rt\\120.0.2210.91"), L"C:\\rt\\120.0.2210.91\\EBWebView\\x64\\EmbeddedBrowserWebView.dll");
  EXPECT_EQ(client_library(L"C:\\rt\\120.0.2210.91\\"), L"C:\\rt\\120.0.2210.91\\EBWebView\\x64\\EmbeddedBrowserWebView.dll");
  EXPECT_EQ(last_component(L"C:\\a\\b\\\\"), L"b");
  EXPECT_EQ(last_component(L"b"), L"b");
  EXPECT_EQ(last_component(L"\\"), L"");
}

TEST(LoaderPaths, FixedRuntimeFolderIsAbsoluteOrBesideTheProgram) {
  struct row {
    const wchar_t* given;
    const wchar_t* expected;
  };
  const wchar_t* exe = L"D:\\Tavrin";
  const row rows[] = {
      {L"E:\\runtime\\120.0.2210.91", L"E:\\runtime\\120.0.2210.91"},
      {L"\\\\server\\share\\rt", L"\\\\server\\share\\rt"},
      {L"rt\\120.0.2210.91", L"D:\\Tavrin\\rt\\120.0.2210.91"},
      {L"rt", L"D:\\Tavrin\\rt"},
      {L"C:rt", L""},             // drive-relative: depends on that drive's current folder
      {L"\\rt", L""},             // rooted on the current drive
      {L"\\\\?\\C:\\rt", L""},
      {L"rt|x", L""},
      {L"", L""},
  };
  for (const row& r : rows) {
    EXPECT_EQ(fixed_runtime_folder(r.given, exe), r.expected) << std::string(r.given, r.given + wcslen(r.given));
  }
  EXPECT_EQ(fixed_runtime_folder(L"rt", L""), L"");          // no program folder known
  EXPECT_EQ(fixed_runtime_folder(L"rt", L"Tavrin"), L"");    // nor a relative one
  EXPECT_TRUE(inside_browser_install(L"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\120.0.2210.91"));
  EXPECT_TRUE(inside_browser_install(L"c:/x/EDGE/application"));
  EXPECT_FALSE(inside_browser_install(L"C:\\Program Files (x86)\\Microsoft\\EdgeWebView\\Application\\120.0.2210.91"));
  EXPECT_FALSE(inside_browser_install(L"C:\\MyEdge\\Application"));
}

TEST(LoaderSearch, ChannelsStableFirstMachineBeforeUser) {
  auto order = search_order(false);
  ASSERT_EQ(order.size(), 8u);
  const wchar_t* expected_names[] = {L"", L"", L"beta", L"beta", L"dev", L"dev", L"canary", L"canary"};
  for (size_t i = 0; i < order.size(); ++i) {
    EXPECT_STREQ(channels[order[i].channel].name, expected_names[i]) << i;
    EXPECT_EQ(order[i].machine, i % 2 == 0) << i;
  }
  auto reversed = search_order(true);
  ASSERT_EQ(reversed.size(), 8u);
  const wchar_t* reversed_names[] = {L"canary", L"canary", L"dev", L"dev", L"beta", L"beta", L"", L""};
  for (size_t i = 0; i < reversed.size(); ++i) {
    EXPECT_STREQ(channels[reversed[i].channel].name, reversed_names[i]) << i;
    EXPECT_EQ(reversed[i].machine, i % 2 == 0) << i;
  }
  EXPECT_STREQ(channels[0].guid, L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}");
}

TEST(LoaderSearch, OnlyPreferenceOneReverses) {
  EXPECT_TRUE(prefers_least_stable(L"1"));
  for (const wchar_t* v : {L"", L"0", L"2", L"01", L"1 ", L"true", L"yes"}) EXPECT_FALSE(prefers_least_stable(v));
}
