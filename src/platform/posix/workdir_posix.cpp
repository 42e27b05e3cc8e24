// The judge's work folder on Linux: as root, a tmpfs of its own with a size and a file-count
// bound, mounted in a mount namespace private to the judging thread (and the children it
// starts), so that no program can fill the disk or grow a chain of folders, and everything in it
// goes with one unmount. Should the judge die, the namespace and the file system die with it.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/fs.h"
#include "platform/proc.h"

namespace plat {
namespace {

constexpr long tmpfs_magic = 0x01021994;

// Once per thread: a mount namespace of its own, which receives the system's mounts but sends
// none back. Threads share the other namespaces and everything else.
bool private_mounts() {
  static thread_local int state = 0;  // 0 not tried, 1 done, -1 not possible
  if (state == 0) {
    state = -1;
    if (geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
        mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) == 0)
      state = 1;
  }
  return state == 1;
}

}  // namespace

bool work_folder_bound(const std::string& dir) {
  if (!private_mounts()) return false;
  char options[96];
  std::snprintf(options, sizeof options, "size=%llu,nr_inodes=%u,mode=0700",
                static_cast<unsigned long long>(work_folder_bytes), work_folder_files);
  return mount("tavrin-work", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOATIME, options) == 0;
}

// A bounded work folder is a tmpfs mounted on the folder itself (a root of its own device).
bool work_folder_is_bounded(const std::string& dir) {
  struct statfs fs;
  struct stat self, parent;
  return statfs(dir.c_str(), &fs) == 0 && fs.f_type == tmpfs_magic &&
         stat(dir.c_str(), &self) == 0 && stat((dir + "/..").c_str(), &parent) == 0 &&
         self.st_dev != parent.st_dev;
}

bool work_folder_remove(const std::string& dir) {
  // The file system and all in it go at once; what remains is the empty folder below it.
  if (work_folder_is_bounded(dir)) umount2(dir.c_str(), MNT_DETACH | UMOUNT_NOFOLLOW);
  return dir_delete_tree(dir);
}

}  // namespace plat
