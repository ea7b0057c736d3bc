#pragma once
// The command-line parser: a set of options, the walk over the argument list that
// fills their values and the list of extras, the checks after it, typed queries
// for the values, and the help text. A parser registers its help option ("h",
// "help", also reached by "-?") by itself.
//
// Lifecycle: create, add options, Parse once, read values. Parse does not clear
// earlier results; options cannot be removed. Every failure is an exception of
// the OptionParserException family, raised at the first problem; values handled
// before it stay stored.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/DateValue.h"
#include "base/FolderItem.h"
#include "base/Variant.h"
#include "options/Option.h"
#include "options/OptionDict.h"

class OptionParser {
 public:
  // An empty appName is replaced by the file name of the running executable.
  explicit OptionParser(const std::string& appName = "", const std::string& appDescription = "");
  virtual ~OptionParser() = default;
  OptionParser(const OptionParser&) = delete;
  OptionParser& operator=(const OptionParser&) = delete;

  // Takes ownership and returns the stored option, which lives as long as the
  // parser. Throws OptionParserException for a short or long key already in use
  // and for the short key "?"; the option is then discarded.
  virtual Option& AddOption(std::unique_ptr<Option> option);
  // The argument list exactly as last handed to Parse.
  virtual std::vector<std::string> Arguments() const;
  // Typed queries by key text; each returns the default when no option has the
  // key or it has no value (BooleanValue and StringValue: when it was not set).
  virtual bool BooleanValue(const Variant& key, bool defaultValue) const;
  virtual ::DateValue DateValue(const Variant& key, const ::DateValue& defaultValue) const;
  virtual double DoubleValue(const Variant& key, double defaultValue) const;
  // None when the value holds no file-system item.
  virtual std::optional<FolderItem> FileValue(
      const Variant& key, const std::optional<FolderItem>& defaultValue = std::nullopt) const;
  // Numbers are truncated toward zero and clamped to the Int32 range.
  virtual int32_t IntegerValue(const Variant& key, int32_t defaultValue) const;
  // The option under the key text, or under the character code of a one-character
  // text; null when none.
  virtual Option* OptionValue(const std::string& key) const;
  // Parses the list; with skipFirst the first element (the program path) is
  // ignored.
  virtual void Parse(const std::vector<std::string>& args, bool skipFirst);
  // Writes HelpText(message) to standard output.
  virtual void ShowHelp(const std::string& message) const;
  virtual std::string StringValue(const Variant& key, const std::string& defaultValue) const;
  // The value as an array; empty when there is no such option or value.
  virtual Variant::Array ArrayValue(const Variant& key) const;

  // The value of the option under the key text or, failing that, under the
  // character code of its first character; empty when there is none.
  Variant Value(const Variant& key) const;
  // The whole help text, ending with a line break.
  std::string HelpText(const std::string& message) const;
  bool HelpRequested() const;
  const std::string& AdditionalHelpNotes() const { return mAdditionalHelpNotes; }
  // Stores the notes trimmed, with line endings made "\n".
  void SetAdditionalHelpNotes(const std::string& notes);
  // Every option in the order added, the help option first.
  const std::vector<std::unique_ptr<Option>>& Options() const { return mOptions; }
  const OptionDict& Dict() const { return mDict; }

  static std::vector<std::string> CopyStringArray(const std::vector<std::string>& source);
  // Splits clusters of short keys (-abc into -a -b -c, -ab=5 into -a -b=5); "--"
  // and everything after it, and elements beginning with "--", stay as they are.
  static std::vector<std::string> ExpandArgs(const std::vector<std::string>& args);
  // The key as written on a command line: "-k" for one character, "--key" for
  // more; empty stays empty and a key that begins with "-" stays as it is.
  static std::string KeyWithDashes(const std::string& key);
  // Resolves "~/" against the home folder and a relative path against base (the
  // current working directory when none), removing "." and "..". An absolute path
  // is used as it is. The item need not exist.
  static FolderItem GetRelativeFolderItem(const std::string& path,
                                          const std::optional<FolderItem>& base = std::nullopt);
  [[noreturn]] static void RaiseInvalidKeyValueException(const std::string& key,
                                                         const std::string& reason);
  [[noreturn]] static void RaiseMissingKeyException(const std::string& key);
  [[noreturn]] static void RaiseUnrecognizedKeyException(const std::string& key);

  // Help layout helpers. Widths count characters. PadRight never shortens; an
  // empty pad leaves the text as it is.
  static std::string PadRight(const std::string& text, int32_t width, const std::string& pad);
  static std::string Repeat(const std::string& text, int32_t count);
  // Breaks every line longer than width at the last blank or "-" within it, or
  // hard after width characters; with reflow, first joins lines into paragraphs.
  // Widths below 1 are taken as 1.
  static void WrapLines(std::vector<std::string>& lines, int32_t width, bool reflow);
  // WrapLines to width less the indent's length, then indents every line.
  static void WrapLinesWithIndent(std::vector<std::string>& lines, int32_t width,
                                  const std::string& indent);
  static std::string WrapTextWithIndent(const std::string& text, int32_t width,
                                        const std::string& indent);

  std::string AppDescription;
  std::string AppName;
  // The arguments that are not options, in command-line order.
  std::vector<std::string> Extra;
  // Minimum number of extras; 0 or less means none.
  int32_t ExtrasRequired = 0;

 private:
  // Handles the element at index (the option it names and its value); advances
  // index past a consumed value.
  void HandleElement(const std::vector<std::string>& list, size_t& index);
  // Raises the first failure of the checks made after the walk.
  void CheckResult() const;

  OptionDict mDict;
  std::string mAdditionalHelpNotes;
  std::vector<std::unique_ptr<Option>> mOptions;
  std::vector<std::string> mOriginalArgs;
};
