// Child-process runner for command-line tests: pipes for all three standard
// streams, drained with poll so that a chatty child cannot block on a full pipe.
#include "support/run_tool.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

static void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

ToolResult run_tool(const ToolRun& run) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe)) throw std::runtime_error("pipe failed");
  std::vector<std::string> full;
  full.push_back(run.argv0.empty() ? run.program : run.argv0);
  full.insert(full.end(), run.args.begin(), run.args.end());
  std::vector<char*> argv;
  for (auto& a : full) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    if (!run.cwd.empty() && chdir(run.cwd.c_str()) != 0) _exit(127);
    execv(run.program.c_str(), argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  int in_fd = in_pipe[1], out_fd = out_pipe[0], err_fd = err_pipe[0];
  signal(SIGPIPE, SIG_IGN);
  fcntl(in_fd, F_SETFL, O_NONBLOCK);

  ToolResult result;
  size_t written = 0;
  if (run.stdin_data.empty()) close_fd(in_fd);
  time_t deadline = time(nullptr) + run.timeout_seconds;
  while (out_fd >= 0 || err_fd >= 0) {
    pollfd fds[3];
    int n = 0;
    if (out_fd >= 0) fds[n++] = {out_fd, POLLIN, 0};
    if (err_fd >= 0) fds[n++] = {err_fd, POLLIN, 0};
    if (in_fd >= 0) fds[n++] = {in_fd, POLLOUT, 0};
    int ready = poll(fds, n, 1000);
    if (time(nullptr) > deadline) {
      kill(pid, SIGKILL);
      break;
    }
    if (ready < 0 && errno != EINTR) break;
    for (int k = 0; k < n; k++) {
      if (!fds[k].revents) continue;
      if (fds[k].fd == in_fd) {
        ssize_t w = write(in_fd, run.stdin_data.data() + written, run.stdin_data.size() - written);
        if (w > 0) written += (size_t)w;
        if (w < 0 || written == run.stdin_data.size()) close_fd(in_fd);
        continue;
      }
      char buffer[65536];
      ssize_t r = read(fds[k].fd, buffer, sizeof(buffer));
      if (r <= 0) {
        if (fds[k].fd == out_fd) close_fd(out_fd);
        else close_fd(err_fd);
      } else if (fds[k].fd == out_fd) {
        result.out.append(buffer, (size_t)r);
      } else {
        result.err.append(buffer, (size_t)r);
      }
    }
  }
  close_fd(in_fd);
  close_fd(out_fd);
  close_fd(err_fd);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

ToolResult run_voxsifter(const std::vector<std::string>& args) {
  ToolRun run;
  run.args = args;
  return run_tool(run);
}
