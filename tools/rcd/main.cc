// pelox5-rcd: keeps record recovery files for operators.

#include <cstdio>
#include <string>
#include <vector>

#include "RcdCommand.h"
#include "base/ProcessStart.h"

int main(int argc, char** argv) {
  // Under a file-size limit a write fails with EFBIG instead of killing the
  // process, so the temporary file is removed and the old file stays.
  ProcessStart::Prepare();
  std::vector<std::string> args(argv + 1, argv + argc);
  int status = RcdTool::Run(args, stdout, stderr);
  if (std::fflush(stdout) != 0) status = 1;
  return status;
}
