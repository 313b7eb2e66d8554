// A full disk for the life of a scope: files may not grow past `bytes` (a
// soft RLIMIT_FSIZE, lifted again at the end), and a write past it fails
// with EFBIG instead of raising SIGXFSZ.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstddef>

namespace hx::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::size_t bytes) : previous_(std::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  void (*previous_)(int);
  rlimit saved_{};
};

}  // namespace hx::test
