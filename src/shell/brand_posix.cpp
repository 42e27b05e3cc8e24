#include "shell/brand.h"

#include <glib.h>
#include <unistd.h>

#include <climits>

const char brand_id[] = "Qy9.Tavrin";
const char brand_icon[] = "Tavrin-brand.png";
const char brand_name[] = "Tavrin";

// GTK takes the program name as the window's WM_CLASS instance and as its
// Wayland application id, so launchers that name the brand id group with the window.
void shell_brand_init() {
  g_set_prgname(brand_id);
  g_set_application_name(brand_name);
}

std::string brand_icon_path() {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "";
  std::string path(exe, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return path.substr(0, slash + 1) + brand_icon;
}
