#include "support/Subprocess.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {
std::atomic<int> gCounter{0};
}

std::string RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                          Subprocess::Options options, int stream, int& status,
                          std::chrono::milliseconds timeout) {
  status = -1000;
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return "openpty failed";
  const char* name = ::ttyname(slave);
  if (name == nullptr) {
    ::close(slave);
    ::close(master);
    return "ttyname failed";
  }
  (stream == STDOUT_FILENO ? options.stdoutPath : options.stderrPath) = name;
  std::string screen;
  std::thread reader([&] {
    char buffer[4096];
    // EIO once every descriptor of the terminal's other side is closed.
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) screen.append(buffer, n);
  });
  {
    Subprocess run(program, args, options);
    status = run.Wait(timeout).value_or(-1000);
  }
  ::close(slave);
  reader.join();
  ::close(master);
  return screen;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  if (!out) throw std::runtime_error("cannot write " + path);
}

Subprocess::Subprocess(const std::string& program, const std::vector<std::string>& args,
                       const Options& options) {
  int n = gCounter++;
  mOutPath = options.workDir + "/stdout." + std::to_string(::getpid()) + "." + std::to_string(n);
  mErrPath = options.workDir + "/stderr." + std::to_string(::getpid()) + "." + std::to_string(n);

  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    auto eq = entry.find('=');
    if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [key, value] : options.env) env[key] = value;
  std::vector<std::string> envStrings;
  for (const auto& [key, value] : env) envStrings.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::vector<std::string> argStrings{program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (options.stdoutPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, mOutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, options.stdoutPath.c_str(), O_RDWR | O_NOCTTY, 0);
  }
  if (options.stderrPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, mErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, options.stderrPath.c_str(), O_RDWR | O_NOCTTY, 0);
  }
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Children start with default signal handling, whatever the test runner set.
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&attr, &all);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (options.newSession) flags |= POSIX_SPAWN_SETSID;
  posix_spawnattr_setflags(&attr, flags);
  int rc = posix_spawn(&mPid, program.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) throw std::runtime_error("cannot start " + program);
}

Subprocess::~Subprocess() {
  if (!mStatus) {
    ::kill(mPid, SIGKILL);
    int status = 0;
    ::waitpid(mPid, &status, 0);
  }
}

std::optional<int> Subprocess::Wait(std::chrono::milliseconds timeout) {
  if (mStatus) return mStatus;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t rc = ::waitpid(mPid, &status, WNOHANG);
    if (rc == mPid) {
      mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
      return mStatus;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Subprocess::Signal(int signal) {
  if (!mStatus) ::kill(mPid, signal);
}

std::string Subprocess::Stdout() const { return ReadFile(mOutPath); }
std::string Subprocess::Stderr() const { return ReadFile(mErrPath); }

std::optional<std::string> Subprocess::FirstStdoutLine(std::chrono::milliseconds timeout) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::string out = Stdout();
    auto nl = out.find('\n');
    if (nl != std::string::npos) return out.substr(0, nl);
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

Subprocess::Result Subprocess::Run(const std::string& program, const std::vector<std::string>& args,
                                   const Options& options, std::chrono::milliseconds timeout) {
  Subprocess child(program, args, options);
  auto status = child.Wait(timeout);
  if (!status) {
    child.Signal(SIGKILL);
    status = child.Wait(std::chrono::seconds(5));
    return {-1000, child.Stdout(), child.Stderr()};
  }
  return {*status, child.Stdout(), child.Stderr()};
}
