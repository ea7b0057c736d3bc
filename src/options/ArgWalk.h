#pragma once
// The companion programs' small command lines, one argument at a time: a long
// option may carry its value inline ("--name=VALUE") or as the next argument.
// Usage faults are raised as `Error` (UsageError unless the program has its
// own), built from one text.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// A fault of a command line; `message` says what is wrong.
struct UsageError {
  std::string message;
};

// Runs `parse(args)`. On a UsageError returns none and puts its message in
// `fault`, for the program to tell as it tells usage faults.
template <typename Parse>
auto ParseArgs(const std::vector<std::string>& args, Parse parse, std::string& fault)
    -> std::optional<decltype(parse(args))> {
  try {
    return parse(args);
  } catch (const UsageError& e) {
    fault = e.message;
    return std::nullopt;
  }
}

template <typename Error = UsageError>
class ArgWalk {
 public:
  explicit ArgWalk(const std::vector<std::string>& args) : mArgs(args) {}

  // Moves to the next argument; false when there is none left.
  bool Next() {
    if (++mIndex >= mArgs.size()) return false;
    mName = mArgs[mIndex];
    mInline.reset();
    if (mName.rfind("--", 0) == 0)
      if (auto eq = mName.find('='); eq != std::string::npos) {
        mInline = mName.substr(eq + 1);
        mName.resize(eq);
      }
    return true;
  }

  // The argument as an option name, without an inline value.
  const std::string& Name() const { return mName; }
  // The argument as it was given.
  const std::string& Given() const { return mArgs[mIndex]; }

  // The option's value: the inline one, else the next argument.
  std::string Value() {
    if (mInline) return *mInline;
    if (mIndex + 1 >= mArgs.size()) throw Error{mName + " needs a value"};
    return mArgs[++mIndex];
  }

  // Refuses an inline value on an option that takes none.
  void NoValue() const {
    if (mInline) throw Error{mName + " takes no value"};
  }

 private:
  const std::vector<std::string>& mArgs;
  size_t mIndex = static_cast<size_t>(-1);
  std::string mName;
  std::optional<std::string> mInline;
};
