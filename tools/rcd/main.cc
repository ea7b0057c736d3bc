// pelox5-rcd: keeps record recovery files for operators.

#include <cstdio>
#include <string>
#include <vector>

#include "RcdCommand.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int status = RcdTool::Run(args, stdout, stderr);
  if (std::fflush(stdout) != 0) status = 1;
  return status;
}
