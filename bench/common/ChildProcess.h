// Child processes for the benchmarks that run whole programs: a player, a
// sound server, a recorder, each with an environment of its own.
//
// Threads: a Child is used by the thread that made it, but for output(),
// which another thread may read until reap().
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvento::bench {

// Changes to the benchmark's own environment: a value sets a variable, no
// value unsets it.
using Env = std::map<std::string, std::optional<std::string>>;

// What a child used, read at its end.
struct Usage {
    double cpuSeconds = 0;  // user + system
    double peakMiB = 0;     // peak resident memory of its program
    long wakeups = 0;       // voluntary context switches, summed over its threads
};

// A child process with its standard output and error in a file (or its
// output on a pipe) and, when asked, its standard input on a pipe. The
// destructor kills and reaps a child still running.
class Child {
  public:
    Child(const std::vector<std::string>& args, const Env& env, const std::filesystem::path& log,
          bool pipeIn = false, bool pipeOut = false);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // False when the program could not be started.
    bool running() const { return pid_ > 0; }
    // Its process id while it runs, for reading /proc.
    pid_t pid() const { return pid_; }
    // The read end of its standard output, with pipeOut.
    int output() const { return out_; }
    // Writes a line to its standard input, with pipeIn.
    void say(const std::string& line) const;
    void signal(int number) const;
    // Sends `number` (none: 0) and waits for the end.
    Usage reap(int number);

  private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
};

// Looks at `done` every 20 ms until it holds (true) or `limit` passes (false).
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);

// The whole text of a file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

}  // namespace orvento::bench
