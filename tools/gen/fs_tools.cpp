#include "gen/fs_tools.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/bytes.h"

extern char** environ;

namespace ravelin::gen {
namespace {

bool IsExecutable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

const char* PackageOf(const std::string& tool) {
  if (tool == "mkfs.vfat" || tool == "fsck.vfat") return "dosfstools";
  if (tool.rfind("m", 0) == 0 && tool != "mkntfs") return "mtools";
  if (tool == "sfdisk") return "fdisk";
  return "ntfs-3g";
}

}  // namespace

std::optional<std::string> FindTool(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    return IsExecutable(name) ? std::optional<std::string>(name) : std::nullopt;
  }
  const char* only = std::getenv("RAVELIN_TOOL_PATH");
  std::string dirs;
  if (only != nullptr) {
    dirs = only;
  } else {
    dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
    dirs += ":/usr/sbin:/sbin";
  }
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string dir = dirs.substr(start, end - start);
    if (!dir.empty() && IsExecutable(dir + "/" + name)) return dir + "/" + name;
    start = end + 1;
  }
  return std::nullopt;
}

Status RequireTools(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (!FindTool(name)) {
      return Status::MissingTool(name + " not found: install the " + PackageOf(name) +
                                 " package (scripts/setup does)");
    }
  }
  return Status::Ok();
}

ToolResult RunTool(const std::vector<std::string>& argv, const std::string& input) {
  ToolResult result;
  const std::optional<std::string> path = FindTool(argv.at(0));
  if (!path) {
    result.err = argv[0] + ": not found";
    return result;
  }
  int inPipe[2], outPipe[2], errPipe[2];
  if (::pipe2(inPipe, O_CLOEXEC) != 0) return result;
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
    ::close(inPipe[0]);
    ::close(inPipe[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

  std::vector<std::string> env = {"LC_ALL=C", "MTOOLS_SKIP_CHECK=1"};
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "LC_ALL=", 7) != 0 && std::strncmp(*e, "MTOOLS_SKIP_CHECK=", 18) != 0) {
      env.emplace_back(*e);
    }
  }
  std::vector<char*> envp, args;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  argCopy[0] = *path;
  for (std::string& a : argCopy) args.push_back(a.data());
  args.push_back(nullptr);

  pid_t pid = 0;
  const int spawned =
      ::posix_spawn(&pid, path->c_str(), &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (spawned != 0) {
    ::close(inPipe[1]);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    result.err = argv[0] + ": " + std::strerror(spawned);
    return result;
  }

  // Feed the input and drain both outputs together, so neither side can block the other.
  std::size_t fed = 0;
  int inFd = inPipe[1];
  if (input.empty()) {
    ::close(inFd);
    inFd = -1;
  } else {
    ::fcntl(inFd, F_SETFL, O_NONBLOCK);
  }
  int open = 2;
  bool outOpen = true, errOpen = true;
  char buffer[65536];
  while (open > 0 || inFd >= 0) {
    pollfd fds[3] = {{outOpen ? outPipe[0] : -1, POLLIN, 0},
                     {errOpen ? errPipe[0] : -1, POLLIN, 0},
                     {inFd, POLLOUT, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        (i == 0 ? outOpen : errOpen) = false;
        --open;
      }
    }
    if (inFd >= 0 && fds[2].revents != 0) {
      const ssize_t n = ::write(inFd, input.data() + fed, input.size() - fed);
      if (n > 0) fed += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) fed = input.size();
      if (fed == input.size()) {
        ::close(inFd);
        inFd = -1;
      }
    }
  }
  if (inFd >= 0) ::close(inFd);
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

Status RunToolChecked(const std::vector<std::string>& argv, ToolResult* result,
                      const std::string& input) {
  ToolResult local = RunTool(argv, input);
  Status status;
  if (local.exitCode != 0) {
    std::string command;
    for (const std::string& a : argv) command += (command.empty() ? "" : " ") + a;
    std::string detail = local.err.empty() ? local.out : local.err;
    if (detail.size() > 2000) detail.resize(2000);
    status = Status::ToolFailed(command + " failed (exit " + std::to_string(local.exitCode) +
                                "): " + detail);
  }
  if (result != nullptr) *result = std::move(local);
  return status;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/ravelin-gen-XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Status CreateSparseFile(const std::string& path, std::uint64_t sectors) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Status::IoError("cannot create " + path + ": " + std::strerror(errno));
  const bool sized = ::ftruncate(fd, static_cast<off_t>(sectors * kSectorSize)) == 0;
  ::close(fd);
  if (!sized) return Status::IoError("cannot size " + path + ": " + std::strerror(errno));
  return Status::Ok();
}

}  // namespace ravelin::gen
