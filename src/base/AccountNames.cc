#include "base/AccountNames.h"

#include <grp.h>
#include <pwd.h>

namespace AccountNames {

std::string UserName(uid_t uid) {
  if (const passwd* pw = ::getpwuid(uid); pw && pw->pw_name) return pw->pw_name;
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  if (const group* gr = ::getgrgid(gid); gr && gr->gr_name) return gr->gr_name;
  return std::to_string(gid);
}

}  // namespace AccountNames
