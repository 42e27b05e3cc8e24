// How our WebView2Loader.dll finds the runtime's client library: the parts that are
// plain text handling (versions, paths, the order of the places searched), kept apart
// from the registry and file calls so they can be tested on their own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wv2loader {

// A runtime version "major.minor.build.patch", each part 0..65535 as in a file version.
struct version {
  std::array<uint32_t, 4> part{};
  auto operator<=>(const version&) const = default;
};

// The oldest runtime that has every interface the window uses (those of the first
// released SDK, which needs runtime 86.0.616.0).
inline constexpr version minimum_version{{86, 0, 616, 0}};

// Exactly four dot-separated decimal numbers of at most five digits, each <= 65535;
// anything else (signs, blanks, a fifth part, an empty part) is not a version.
std::optional<version> parse_version(std::wstring_view text);
std::wstring version_text(const version& v);

// The release channels in stable-first order, as the runtime's updater registers them:
// HKLM (32-bit view) or HKCU \ client_state_key \ guid, value "EBWebView" = the folder
// of the installed version, named after the version.
struct channel {
  const wchar_t* guid;
  const wchar_t* name;  // "" for the stable runtime; shown after the version otherwise
};
inline constexpr std::array<channel, 4> channels{{
    {L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}", L""},
    {L"{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}", L"beta"},
    {L"{0D50BFEC-CD6A-4F9A-964C-C7416E3ACB10}", L"dev"},
    {L"{65C35B14-6C1D-4122-AC46-7148CC9D6497}", L"canary"},
}};
inline constexpr wchar_t client_state_key[] = L"Software\\Microsoft\\EdgeUpdate\\ClientState\\";
inline constexpr wchar_t registration_value[] = L"EBWebView";

// One place to look: a channel's registration, machine-wide or for the current user.
struct place {
  size_t channel;  // index into channels
  bool machine;
};

// Each channel machine-wide first, then per user; channels stable first, or the least
// stable first when the release channel preference is 1.
std::vector<place> search_order(bool least_stable_first);

// WEBVIEW2_RELEASE_CHANNEL_PREFERENCE: "1" reverses the order; anything else keeps it.
bool prefers_least_stable(std::wstring_view value);

// The client library inside a runtime folder (an installed version's folder or a
// fixed-version runtime): folder\EBWebView\<arch>\EmbeddedBrowserWebView.dll.
std::wstring client_library(std::wstring_view folder);

// "C:\..." or "\\server\share\..."; never a path resolved against the current folder,
// a drive-relative "C:x" or a device path "\\?\", "\\.\".
bool absolute_path(std::wstring_view path);

// The last component of a folder path, trailing separators ignored.
std::wstring last_component(std::wstring_view path);

// A registered runtime folder we accept: absolute, of sane length, no control
// characters, whose last component is a version at or above the minimum.
std::optional<version> registered_version(std::wstring_view folder);

// A fixed-version runtime folder as given (argument or environment variable): absolute
// as it is, otherwise relative to the executable's folder. Empty when unusable.
std::wstring fixed_runtime_folder(std::wstring_view given, std::wstring_view exe_folder);

// A fixed-version runtime may not be a copy taken from inside a browser's own install
// (a path containing \Edge\Application\): the documented loader refuses it.
bool inside_browser_install(std::wstring_view folder);

}  // namespace wv2loader
