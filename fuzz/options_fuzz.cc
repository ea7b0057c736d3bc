// Parses arbitrary argument lists (the input split at NUL bytes) with a parser
// built like the tool's. Only exceptions of the option family may come out;
// anything else aborts so that the fuzzer reports it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "options/OptionExceptions.h"
#include "options/OptionParser.h"

namespace {

void ParseLikeTheTool(const std::vector<std::string>& args) {
  OptionParser parser("PeloxCollector", "for downloading pelox5 data");
  parser.AddOption(
      std::make_unique<Option>("v", "version", "Report version and exit", Option::BooleanType));
  parser
      .AddOption(std::make_unique<Option>("d", "deployment", "Deployment name for download",
                                          Option::StringType))
      .IsRequired = true;
  parser.AddOption(std::make_unique<Option>(
      "l", "loglevel", "Log level severity: FATAL | WARNING | INFO | DEBUG", Option::StringType));
  parser.OptionValue("l")->AddAllowedValue({"FATAL", "WARNING", "INFO", "DEBUG"});
  // Further types, so that every conversion and check is reached.
  Option& count =
      parser.AddOption(std::make_unique<Option>("n", "count", "Count", Option::IntegerType));
  count.MinimumNumber = 0;
  count.MaximumNumber = 100;
  parser.AddOption(std::make_unique<Option>("t", "time", "Start", Option::DateType))
      .IsValidDateRequired = true;
  Option& files =
      parser.AddOption(std::make_unique<Option>("f", "file", "Input", Option::FileType));
  files.IsArray = true;
  files.IsReadableRequired = true;
  parser.ExtrasRequired = 0;

  try {
    parser.Parse(args, true);
  } catch (const OptionParserException&) {
    return;
  }
  (void)parser.StringValue("deployment", "");
  (void)parser.IntegerValue("n", 0);
  (void)parser.DateValue("t", DateValue{});
  (void)parser.ArrayValue("f");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  args.push_back(current);
  try {
    ParseLikeTheTool(args);
    // The help layout takes any text: wrap the raw input as a description.
    std::string text(reinterpret_cast<const char*>(data), size);
    (void)OptionParser::WrapTextWithIndent(text, 49, std::string(23, ' '));
  } catch (...) {
    std::abort();
  }
  return 0;
}
