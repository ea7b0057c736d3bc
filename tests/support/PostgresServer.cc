#include "support/PostgresServer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "support/Subprocess.h"

namespace fs = std::filesystem;

namespace {

const std::string kBin = "/usr/lib/postgresql/15/bin/";
constexpr uid_t kNobody = 65534;

}  // namespace

bool PostgresServer::RunAsServerAccount(const std::vector<std::string>& command, std::string* err) {
  std::string program = command[0];
  std::vector<std::string> args(command.begin() + 1, command.end());
  if (::geteuid() == 0) {
    args.insert(args.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program});
    program = "/usr/bin/setpriv";
  }
  Subprocess::Options options;
  options.workDir = mDir.Path() + "/out";
  options.env = {{"LC_ALL", "C.UTF-8"}, {"HOME", mDir.Path()}};
  Subprocess::Result r = Subprocess::Run(program, args, options, std::chrono::seconds(120));
  if (r.status != 0 && err) *err = r.err + r.out;
  return r.status == 0;
}

PostgresServer::PostgresServer() {
  const std::string root = mDir.Path();
  fs::create_directories(root + "/out");
  {
    std::ofstream pw(root + "/pwfile");
    pw << kPassword << "\n";
  }
  if (::geteuid() == 0) {
    for (const std::string& p : {root, root + "/out", root + "/pwfile"})
      if (::chown(p.c_str(), kNobody, 65534) != 0) mError = "cannot chown " + p;
    ::chmod(root.c_str(), 0755);
  }
  std::string err;
  if (mError.empty() &&
      !RunAsServerAccount(
          {kBin + "initdb", "-D", root + "/data", "-U", kUser, "--pwfile=" + root + "/pwfile",
           "--auth-local=scram-sha-256", "--auth-host=scram-sha-256", "-E", "UTF8", "--no-sync"},
          &err))
    mError = "initdb failed: " + err;
  if (mError.empty()) {
    std::ofstream conf(root + "/data/postgresql.conf", std::ios::app);
    conf << "listen_addresses = ''\nunix_socket_directories = '" << root
         << "'\nfsync = off\nsynchronous_commit = off\nmax_connections = 50\n";
  }
  if (mError.empty() && !Start()) mError = "the server did not start: " + ReadFile(root + "/log");
}

PostgresServer::~PostgresServer() { Stop(); }

bool PostgresServer::Start() {
  std::string err;
  mRunning = RunAsServerAccount({kBin + "pg_ctl", "start", "-w", "-t", "120", "-D",
                                 mDir.Path() + "/data", "-l", mDir.Path() + "/log"},
                                &err);
  return mRunning;
}

bool PostgresServer::Stop() {
  if (!mRunning) return true;
  mRunning = !RunAsServerAccount(
      {kBin + "pg_ctl", "stop", "-w", "-t", "120", "-m", "fast", "-D", mDir.Path() + "/data"});
  return !mRunning;
}

std::string PostgresServer::ConnInfo(const std::string& database, const std::string& user,
                                     const std::string& password) const {
  return "host=" + mDir.Path() + " dbname=" + database + " user=" + user + " password=" + password;
}

std::string PostgresServer::Sql(const std::string& database, const std::string& sql) const {
  Subprocess::Options options;
  options.workDir = mDir.Path() + "/out";
  options.env = {{"PGPASSWORD", kPassword}, {"LC_ALL", "C.UTF-8"}};
  Subprocess::Result r = Subprocess::Run(kBin + "psql",
                                         {"-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h",
                                          mDir.Path(), "-U", kUser, "-d", database, "-c", sql},
                                         options, std::chrono::seconds(120));
  return r.status == 0 ? r.out : "ERROR: " + r.err;
}

std::string PostgresServer::NewDatabase() {
  const std::string name = "test" + std::to_string(++mDatabases);
  Sql("postgres", "CREATE DATABASE " + name);
  return name;
}

PostgresServer& SharedPostgres() {
  static std::unique_ptr<PostgresServer> server = std::make_unique<PostgresServer>();
  return *server;
}
