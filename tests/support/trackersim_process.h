// Runs the trackersim program as its own process, the way a user or the
// Windows program under Wine meets it. POSIX only.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class TrackersimProcess {
 public:
  // Starts trackersim with these options and waits for its device path.
  explicit TrackersimProcess(const std::vector<std::string>& options);
  ~TrackersimProcess();  // ends it with SIGTERM and waits for it
  TrackersimProcess(const TrackersimProcess&) = delete;
  TrackersimProcess& operator=(const TrackersimProcess&) = delete;

  bool Running() const { return pid_ > 0 && !device_.empty(); }
  const std::string& Device() const { return device_; }
  // Ends it and returns its exit status (-1 when it did not exit normally).
  int Stop();

 private:
  pid_t pid_ = -1;
  std::string device_;
};

// The number of settings-memory writes ('Y', an address and a value) in a
// transcript.
int SettingsWrites(const std::string& transcript);

}  // namespace testing_support
