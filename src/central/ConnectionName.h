#pragma once
// How messages name a central database connection: its host, port, database
// and user, never its password. Read from a libpq connection string (key=value
// pairs or a postgresql:// URI) with libpq's own parser.

#include <map>
#include <optional>
#include <string>

namespace Central {

struct ConnectionParts {
  // The keywords given, as libpq reads them (a URI's parts under their
  // keyword names); the password among them when one was given.
  std::map<std::string, std::string> given;
  // "host H, port P, database D, user U", with libpq's defaults where the
  // string leaves a part out.
  std::string name;
};

// None when libpq cannot read `conninfo`; its message is not kept, since it
// may quote the string.
std::optional<ConnectionParts> ParseConnection(const std::string& conninfo);

// `text` with every occurrence of `secret` (when not empty) blanked out.
std::string WithoutSecret(std::string text, const std::string& secret);

}  // namespace Central
