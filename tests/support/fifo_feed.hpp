// Writes bytes into a named pipe from a thread of its own, as another program
// would, for a reader that opens the pipe by name. When the feed ends, a
// writer that still waits for a reader, or for room, gets one that drains
// the pipe, so that a failed test does not hang.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

class FifoFeed {
 public:
  // Makes the pipe (ok() is false when it cannot) and starts writing into it.
  FifoFeed(const std::string& path, const std::string& bytes) : path(path) {
    made = mkfifo(path.c_str(), 0600) == 0;
    if (!made) return;
    // A reader that gives up early must not end the test process.
    signal(SIGPIPE, SIG_IGN);
    writer = std::thread([this, bytes]() {
      const int fd = open(this->path.c_str(), O_WRONLY);
      for (size_t done = 0; fd >= 0 && done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += (size_t)n;
      }
      if (fd >= 0) close(fd);
      finished = true;
    });
  }
  ~FifoFeed() {
    if (!made) return;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    char buffer[65536];
    while (fd >= 0 && !finished) {
      if (read(fd, buffer, sizeof(buffer)) <= 0) usleep(1000);
    }
    writer.join();
    if (fd >= 0) close(fd);
  }
  FifoFeed(const FifoFeed&) = delete;
  FifoFeed& operator=(const FifoFeed&) = delete;
  bool ok() const { return made; }

 private:
  std::string path;
  bool made = false;
  std::atomic<bool> finished{false};
  std::thread writer;
};
