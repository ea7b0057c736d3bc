// pelox5-rcd's command run in process, and as a process where the process
// itself matters (writers at once, a file-size limit).

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "RcdCommand.h"
#include "TempDir.h"
#include "support/Sandbox.h"
#include "support/Subprocess.h"  // ReadFile

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class RcdToolTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return mDir.Path() + "/" + name; }

  void WriteFile(const std::string& name, const std::string& contents) const {
    std::ofstream(PathOf(name), std::ios::binary) << contents;
  }

  // Runs the command with `arguments` (words separated by blanks) and collects
  // what it printed on its two streams.
  Outcome Rcd(const std::string& arguments) const {
    std::vector<std::string> args;
    std::istringstream words(arguments);
    for (std::string word; words >> word;) args.push_back(word);
    char* outText = nullptr;
    char* errText = nullptr;
    size_t outSize = 0;
    size_t errSize = 0;
    std::FILE* out = ::open_memstream(&outText, &outSize);
    std::FILE* err = ::open_memstream(&errText, &errSize);
    int status = RcdTool::Run(args, out, err);
    std::fclose(out);
    std::fclose(err);
    Outcome outcome{status, outText, errText};
    std::free(outText);
    std::free(errText);
    return outcome;
  }

  // Runs `script` in bash with $RCD set to the built pelox5-rcd; its status.
  int Shell(const std::string& script) const {
    std::string command =
        "RCD=" + Sandbox::RcdTool() + " bash -c '" + script + "' >" + PathOf("shell.out") + " 2>&1";
    int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  TempDir mDir;
};

}  // namespace

TEST_F(RcdToolTest, ShowAndMissing) {
  WriteFile("a.rcd", "20-29\n1-5,4-8,9\n");
  Outcome show = Rcd("show " + PathOf("a.rcd"));
  EXPECT_EQ(show.status, 0);
  EXPECT_EQ(show.out, "1-9\n20-29\nfirst: 1\nlast: 29\n");
  EXPECT_EQ(show.err, "");

  Outcome missing = Rcd("missing " + PathOf("a.rcd"));
  EXPECT_EQ(missing.status, 0);
  EXPECT_EQ(missing.out, "0-0\n10-19\n");
  EXPECT_EQ(ReadFile(PathOf("a.rcd")), "20-29\n1-5,4-8,9\n");  // reading never rewrites

  WriteFile("empty.rcd", "");
  EXPECT_EQ(Rcd("show " + PathOf("empty.rcd")).out, "");

  // An editor's byte-order mark is ignored; a token that is not a number is
  // skipped with a warning, never read as record 0 or a prefix.
  WriteFile("edited.rcd",
            "\xEF\xBB\xBF"
            "50-100\nabc,-20\n");
  Outcome edited = Rcd("missing " + PathOf("edited.rcd"));
  EXPECT_EQ(edited.status, 0);
  EXPECT_EQ(edited.out, "0-49\n");
  const std::string warning = "pelox5-rcd: WARNING: Record recovery file " + PathOf("edited.rcd");
  EXPECT_EQ(edited.err, warning + " line 2: 'abc' is not N or A-B; skipped\n" + warning +
                            " line 2: '-20' is not N or A-B; skipped\n");
}

TEST_F(RcdToolTest, AddWritesTheFileBack) {
  const std::string file = PathOf("new.rcd");
  Outcome first = Rcd("add " + file + " 5 10-2000000000 2147483647");
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out + first.err, "");
  EXPECT_EQ(ReadFile(file), "5-5\n10-2000000000\n2147483647-2147483647\n");

  EXPECT_EQ(Rcd("add " + file + " 6-9 3").status, 0);
  EXPECT_EQ(ReadFile(file), "3-3\n5-2000000000\n2147483647-2147483647\n");
  EXPECT_EQ(Rcd("missing " + file).out, "0-2\n4-4\n2000000001-2147483646\n");
}

TEST_F(RcdToolTest, BadArgumentsGetOneLineAndStatusOne) {
  WriteFile("a.rcd", "1-5\n");
  const std::string file = PathOf("a.rcd");
  for (const std::string& arguments :
       {std::string(""), "frobnicate " + file, std::string("show"), "show " + file + " extra",
        "add " + file, "add " + file + " x", "add " + file + " 5-3", "add " + file + " -4",
        "add " + file + " 2147483648", "add " + file + " 1-2-3", "add " + file + " 7 +8",
        "show " + PathOf("absent.rcd"), "plan " + file, "plan " + file + " --logged -1",
        "plan " + file + " --logged 9 --size 0", "plan " + file + " --logged=9 extra",
        "plan " + PathOf("absent.rcd") + " --logged 9"}) {
    Outcome outcome = Rcd(arguments);
    EXPECT_EQ(outcome.status, 1) << arguments;
    EXPECT_EQ(outcome.out, "") << arguments;
    ASSERT_FALSE(outcome.err.empty()) << arguments;
    EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << arguments;
    EXPECT_EQ(outcome.err.rfind("pelox5-rcd: ", 0), 0u) << arguments;
  }
  EXPECT_EQ(ReadFile(file), "1-5\n");
}

TEST_F(RcdToolTest, FailuresToReadOrWriteEndWithStatusOne) {
  std::filesystem::create_directory(PathOf("dir.rcd"));
  Outcome add = Rcd("add " + PathOf("dir.rcd") + " 4");
  EXPECT_EQ(add.status, 1);
  EXPECT_EQ(add.out.rfind("readRCD(): couldnt read", 0), 0u);

  Outcome write = Rcd("add " + PathOf("no-folder/x.rcd") + " 4");
  EXPECT_EQ(write.status, 1);
  EXPECT_EQ(write.err, "pelox5-rcd: add: cannot lock the folder " + PathOf("no-folder") +
                           ": No such file or directory\n");
}

TEST_F(RcdToolTest, Help) {
  for (const char* option : {"-h", "--help"}) {
    Outcome help = Rcd(option);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: pelox5-rcd show FILE\n", 0), 0u);
    EXPECT_EQ(help.err, "");
  }
}

TEST_F(RcdToolTest, AddRefusesFilesItWouldDamage) {
  // Tokens a rewrite would drop or alter: the file stays as it is.
  for (const std::string text : {"1-5\n7,3-5-7\n", "1-5\n\n9-2\n", "1-5\nabc\n"}) {
    WriteFile("odd.rcd", text);
    Outcome add = Rcd("add " + PathOf("odd.rcd") + " 6");
    EXPECT_EQ(add.status, 1) << text;
    EXPECT_EQ(ReadFile(PathOf("odd.rcd")), text);
  }
  EXPECT_EQ(Rcd("add " + PathOf("odd.rcd") + " 6").err,
            "pelox5-rcd: add: " + PathOf("odd.rcd") +
                " line 2 holds 'abc', which is not N or A-B; the file is left as it is\n");
  WriteFile("plain.rcd", "\xEF\xBB\xBF 1 - 5 ,7\r\n\n");
  EXPECT_EQ(Rcd("add " + PathOf("plain.rcd") + " 6").status, 0);
  EXPECT_EQ(ReadFile(PathOf("plain.rcd")), "1-7\n");

  // A read-only file, even for root, and the file behind a link.
  WriteFile("real.rcd", "1-5\n");
  std::filesystem::create_symlink("real.rcd", PathOf("link.rcd"));
  EXPECT_EQ(Rcd("add " + PathOf("link.rcd") + " 6").status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(PathOf("link.rcd")));
  EXPECT_EQ(ReadFile(PathOf("real.rcd")), "1-6\n");
  std::filesystem::permissions(PathOf("real.rcd"), std::filesystem::perms::owner_read);
  Outcome readOnly = Rcd("add " + PathOf("link.rcd") + " 7");
  EXPECT_EQ(readOnly.status, 1);
  EXPECT_EQ(readOnly.out.rfind("writeRCD(): couldnt write", 0), 0u);
  EXPECT_EQ(ReadFile(PathOf("real.rcd")), "1-6\n");
}

TEST_F(RcdToolTest, AddsAtOnceLoseNothingAndFailuresLeaveNoTemporaryFile) {
  // Two writers adding interleaved records: every record must arrive.
  const std::string file = PathOf("a.rcd");
  ASSERT_EQ(Shell("add() { for i in $(seq $1 2 59); do $RCD add " + file +
                  " $i || return 1; done; }; add 0 & a=$!; add 1 & b=$!; wait $a && wait $b"),
            0)
      << ReadFile(PathOf("shell.out"));
  EXPECT_EQ(ReadFile(file), "0-59\n");

  // A file-size limit below the new text: status 1, old file whole, no temporary,
  // and none left either from a writer killed before its rename.
  std::string ranges;
  for (int i = 0; i < 600; i += 2) ranges += std::to_string(i) + "\n";
  WriteFile("b.rcd", ranges);
  WriteFile("b.rcd.tmpK1ll3d", "0-9\n");
  EXPECT_EQ(Shell("ulimit -f 1; exec $RCD add " + PathOf("b.rcd") + " 1000-2000"), 1);
  EXPECT_EQ(ReadFile(PathOf("b.rcd")), ranges);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(mDir.Path()))
    ++entries;
  EXPECT_EQ(entries, 3u);  // a.rcd, b.rcd, shell.out
}
