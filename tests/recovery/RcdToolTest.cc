// pelox5-rcd run as a process, as operators and scripts run it.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "TempDir.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class RcdTool : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return mDir.Path() + "/" + name; }

  void WriteFile(const std::string& name, const std::string& contents) const {
    std::ofstream(PathOf(name), std::ios::binary) << contents;
  }

  std::string ReadFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Runs pelox5-rcd with `arguments` (shell words) and collects what it printed.
  Outcome Rcd(const std::string& arguments) const {
    std::string command = std::string(PELOX5_BINARY_DIR "/tools/rcd/pelox5-rcd ") + arguments +
                          " >" + PathOf("stdout") + " 2>" + PathOf("stderr");
    int raw = std::system(command.c_str());
    int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return {status, ReadFile(PathOf("stdout")), ReadFile(PathOf("stderr"))};
  }

  TempDir mDir;
};

}  // namespace

TEST_F(RcdTool, ShowAndMissing) {
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
}

TEST_F(RcdTool, AddWritesTheFileBack) {
  const std::string file = PathOf("new.rcd");
  Outcome first = Rcd("add " + file + " 5 10-2000000000 2147483647");
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out + first.err, "");
  EXPECT_EQ(ReadFile(file), "5-5\n10-2000000000\n2147483647-2147483647\n");

  EXPECT_EQ(Rcd("add " + file + " 6-9 3").status, 0);
  EXPECT_EQ(ReadFile(file), "3-3\n5-2000000000\n2147483647-2147483647\n");
  EXPECT_EQ(Rcd("missing " + file).out, "0-2\n4-4\n2000000001-2147483646\n");
}

TEST_F(RcdTool, BadArgumentsGetOneLineAndStatusOne) {
  WriteFile("a.rcd", "1-5\n");
  const std::string file = PathOf("a.rcd");
  for (const std::string& arguments :
       {std::string(""), "frobnicate " + file, std::string("show"), "show " + file + " extra",
        "add " + file, "add " + file + " x", "add " + file + " 5-3", "add " + file + " -4",
        "add " + file + " 2147483648", "add " + file + " 1-2-3", "add " + file + " 7 +8",
        "show " + PathOf("absent.rcd")}) {
    Outcome outcome = Rcd(arguments);
    EXPECT_EQ(outcome.status, 1) << arguments;
    EXPECT_EQ(outcome.out, "") << arguments;
    ASSERT_FALSE(outcome.err.empty()) << arguments;
    EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << arguments;
    EXPECT_EQ(outcome.err.rfind("pelox5-rcd: ", 0), 0u) << arguments;
  }
  EXPECT_EQ(ReadFile(file), "1-5\n");
}

TEST_F(RcdTool, FailuresToReadOrWriteEndWithStatusOne) {
  std::filesystem::create_directory(PathOf("dir.rcd"));
  Outcome add = Rcd("add " + PathOf("dir.rcd") + " 4");
  EXPECT_EQ(add.status, 1);
  EXPECT_EQ(add.out.rfind("readRCD(): couldnt read", 0), 0u);

  Outcome write = Rcd("add " + PathOf("no-folder/x.rcd") + " 4");
  EXPECT_EQ(write.status, 1);
  EXPECT_EQ(write.out.rfind("writeRCD(): couldnt write", 0), 0u);
}

TEST_F(RcdTool, Help) {
  for (const char* option : {"-h", "--help"}) {
    Outcome help = Rcd(option);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: pelox5-rcd show FILE\n", 0), 0u);
    EXPECT_EQ(help.err, "");
  }
}
