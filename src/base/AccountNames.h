#pragma once
// The names of accounts and groups as messages show them: the name from the
// system's databases, or the number when it has none.

#include <sys/types.h>

#include <string>

namespace AccountNames {

std::string UserName(uid_t uid);
std::string GroupName(gid_t gid);

}  // namespace AccountNames
