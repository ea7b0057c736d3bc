#include "support/SimProcess.h"

#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <thread>

namespace {
int gSimCount = 0;
}

SimProcess::SimProcess(const Sandbox& box, const std::vector<std::string>& args) {
  std::string tag = std::to_string(gSimCount++);
  mSentPath = box.Root() + "/sim-sent." + tag;
  mCommandsPath = box.Root() + "/sim-commands." + tag;
  std::vector<std::string> all = args;
  all.insert(all.end(), {"--log-sent", mSentPath, "--log-commands", mCommandsPath});
  mProcess = std::make_unique<Subprocess>(Sandbox::Simulator(), all, box.ProcessOptions());
  auto line = mProcess->FirstStdoutLine(std::chrono::seconds(20));
  if (!line) throw std::runtime_error("pelox5-sim did not start: " + mProcess->Stderr());
  mStartLine = *line;
  auto blank = line->find(' ');
  mPortText = line->substr(blank + 1);
}

SimProcess::~SimProcess() {
  mProcess->Signal(SIGTERM);
  mProcess->Wait(std::chrono::seconds(5));
}

std::string SimProcess::SentBytes() const { return ReadFile(mSentPath); }

uint64_t SimProcess::SentSize() const {
  struct stat st {};
  return ::stat(mSentPath.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string SimProcess::Commands() const { return ReadFile(mCommandsPath); }

std::string SimProcess::CommandsThrough(const std::string& last) const {
  const std::string ending = last + "\n";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    std::string commands = Commands();
    const bool ends = commands.size() >= ending.size() &&
                      commands.compare(commands.size() - ending.size(), ending.size(), ending) == 0;
    if (ends || std::chrono::steady_clock::now() >= deadline) return commands;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int SimProcess::Port() const {
  const std::string prefix = "tcp 127.0.0.1:";
  if (mStartLine.rfind(prefix, 0) != 0)
    throw std::runtime_error("not a TCP start line: " + mStartLine);
  return std::stoi(mStartLine.substr(prefix.size()));
}

std::string SimProcess::PtyPath() const {
  if (mStartLine.rfind("pty ", 0) != 0) throw std::runtime_error("not a pty: " + mStartLine);
  return mStartLine.substr(4);
}

int SimProcess::Terminate() {
  mProcess->Signal(SIGTERM);  // nothing when it has already ended
  return WaitExit(5000);
}

int SimProcess::WaitExit(int timeoutMs) {
  auto status = mProcess->Wait(std::chrono::milliseconds(timeoutMs));
  if (!status) {
    mProcess->Signal(SIGKILL);
    mProcess->Wait(std::chrono::seconds(5));
    return -2;
  }
  return *status >= 0 ? *status : -1;
}
