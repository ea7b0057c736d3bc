#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "TempDir.h"
#include "app/SessionFile.h"
#include "support/Subprocess.h"

TEST(SessionFile, NeverOverwritesAndKeepsEveryByte) {
  TempDir dir;
  std::string path = dir.Path() + "/raw.x";
  SessionFile file;
  ASSERT_EQ(SessionFile::Create(path, file), 0);
  std::string big(600 * 1024, 'b');
  EXPECT_TRUE(file.Append("a\r\n"));
  EXPECT_EQ(ReadFile(path), "a\r\n");  // on disk at once, nothing held back
  EXPECT_TRUE(file.Append(big));
  EXPECT_TRUE(file.Append(std::string("\0z", 2)));
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(ReadFile(path), "a\r\n" + big + std::string("\0z", 2));

  SessionFile second;
  EXPECT_EQ(SessionFile::Create(path, second), EEXIST);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(ReadFile(path).size(), 3 + big.size() + 2);
}

TEST(SessionFile, ReportsAFullDisk) {
  TempDir dir;
  // A file-size limit stands in for a full disk; SIGXFSZ is ignored as in the tool.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit limit = old;
  limit.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  SessionFile file;
  ASSERT_EQ(SessionFile::Create(dir.Path() + "/raw.y", file), 0);
  file.Append(std::string(400 * 1024, 'x'));
  bool closed = file.Close();
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(closed);
  EXPECT_FALSE(file.ErrorText().empty());
  EXPECT_EQ(ReadFile(dir.Path() + "/raw.y").size(), 1000u);
}
