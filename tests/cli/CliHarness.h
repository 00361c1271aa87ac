// Running `nurva` (or another program) from a test to its end, its output captured.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace nurva::test {

struct Ran {
  int exit = -1;
  std::string out, err;  // err stays empty where standard error went to standard output
  nlohmann::json Json() const { return nlohmann::json::parse(out); }
  // Every line of standard output that is a JSON object.
  std::vector<nlohmann::json> Objects() const {
    std::vector<nlohmann::json> r;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
      if (!line.empty() && line[0] == '{') r.push_back(nlohmann::json::parse(line));
    return r;
  }
};

inline int ExitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

inline std::vector<char*> Argv(const char* bin, std::vector<std::string>& args) {
  args.insert(args.begin(), bin);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

// Runs `bin` with `args` to its end, standard output and standard error apart.
inline Ran Program(const char* bin, std::vector<std::string> args) {
  std::vector<char*> argv = Argv(bin, args);
  int outPipe[2], errPipe[2];
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return {};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
  posix_spawn_file_actions_addclose(&fa, outPipe[0]);
  posix_spawn_file_actions_addclose(&fa, errPipe[0]);
  pid_t pid = 0;
  Ran r;
  const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (rc != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return r;
  }
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* into[2] = {&r.out, &r.err};
  int open = 2;
  while (open > 0 && ::poll(fds, 2, 60000) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        into[i]->append(buf, static_cast<size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) ::close(f.fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.exit = ExitStatus(status);
  return r;
}

// Runs nurva with `args`; the bus is the test's ($NURVA_VUSB_DIR set by TestBus).
inline Ran Nurva(std::vector<std::string> args) { return Program(NURVA_CLI_BIN, std::move(args)); }

// Runs nurva with `args`, standard error into standard output, both through `tmp`/out.txt.
inline Ran Nurva(std::vector<std::string> args, const std::filesystem::path& tmp) {
  std::vector<char*> argv = Argv(NURVA_CLI_BIN, args);
  const auto outFile = tmp / "out.txt";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  pid_t pid = 0;
  Ran r;
  const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return r;
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.exit = ExitStatus(status);
  std::ifstream in(outFile);
  std::stringstream ss;
  ss << in.rdbuf();
  r.out = ss.str();
  return r;
}

inline bool Has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

}  // namespace nurva::test
