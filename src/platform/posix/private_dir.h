// The user's own folder for the instance lock, the window's show socket and the
// browser's redirect page.
#pragma once
#include <string>

namespace plat {

// $XDG_RUNTIME_DIR, else /tmp/tavrin-<uid> (0700, checked to be ours); "" when neither works.
std::string private_dir();

}  // namespace plat
