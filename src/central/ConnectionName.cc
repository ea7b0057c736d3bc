#include "central/ConnectionName.h"

#include <libpq-fe.h>

#include <memory>

namespace Central {

namespace {

using Options = std::unique_ptr<PQconninfoOption, void (*)(PQconninfoOption*)>;

// The value libpq would use for a keyword left out: its environment
// variable's or its compiled-in default.
std::string DefaultOf(const char* keyword) {
  Options defaults(PQconndefaults(), PQconninfoFree);
  for (PQconninfoOption* o = defaults.get(); o && o->keyword; ++o)
    if (std::string(o->keyword) == keyword && o->val) return o->val;
  return "";
}

}  // namespace

std::optional<ConnectionParts> ParseConnection(const std::string& conninfo) {
  char* error = nullptr;
  Options parsed(PQconninfoParse(conninfo.c_str(), &error), PQconninfoFree);
  PQfreemem(error);
  if (!parsed) return std::nullopt;
  ConnectionParts parts;
  for (PQconninfoOption* o = parsed.get(); o->keyword; ++o)
    if (o->val && *o->val) parts.given[o->keyword] = o->val;
  auto part = [&parts](const char* keyword, const char* fallback = nullptr) {
    auto found = parts.given.find(keyword);
    if (found != parts.given.end()) return found->second;
    std::string value = DefaultOf(keyword);
    if (value.empty() && fallback) value = DefaultOf(fallback);
    return value.empty() ? std::string("(default)") : value;
  };
  const std::string user = part("user");
  std::string database = part("dbname");
  if (database == "(default)") database = user;
  std::string host = part("host", "hostaddr");
  if (host == "(default)") host = "/run/postgresql";
  std::string port = part("port");
  if (port == "(default)") port = "5432";
  parts.name = "host " + host + ", port " + port + ", database " + database + ", user " + user;
  return parts;
}

std::string WithoutSecret(std::string text, const std::string& secret) {
  if (secret.empty()) return text;
  for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at))
    text.replace(at, secret.size(), "***");
  return text;
}

}  // namespace Central
