#include "bench/common/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "bench/common/PeakMemory.h"

extern char** environ;

namespace orvento::bench {

Child::Child(const std::vector<std::string>& args, const Env& env, const std::filesystem::path& log,
             bool pipeIn, bool pipeOut) {
    std::vector<std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string var = *e;
        if (!env.contains(var.substr(0, var.find('=')))) {
            vars.push_back(var);
        }
    }
    for (const auto& [name, value] : env) {
        if (value) {
            vars.push_back(name + "=" + *value);
        }
    }
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    if ((pipeIn && pipe2(in, O_CLOEXEC) != 0) || (pipeOut && pipe2(out, O_CLOEXEC) != 0)) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipeIn) {
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    if (pipeOut) {
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    std::vector<std::string> argsCopy = args;
    std::vector<char*> argv;
    for (std::string& a : argsCopy) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& v : vars) {
        envp.push_back(v.data());
    }
    envp.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (pipeIn) {
        close(in[0]);
        in_ = in[1];
    }
    if (pipeOut) {
        close(out[1]);
        out_ = out[0];
    }
}

Child::~Child() {
    if (pid_ > 0) {
        reap(SIGKILL);
    }
}

void Child::say(const std::string& line) const {
    const std::string text = line + "\n";
    [[maybe_unused]] ssize_t n = write(in_, text.data(), text.size());
}

void Child::signal(int number) const {
    kill(pid_, number);
}

Usage Child::reap(int number) {
    if (pid_ <= 0) {
        return {};
    }
    const long peak = peakKiB(pid_);
    if (number != 0) {
        kill(pid_, number);
    }
    int status = 0;
    rusage ru{};
    wait4(pid_, &status, 0, &ru);
    pid_ = -1;
    for (int fd : {in_, out_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    return {static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6,
            static_cast<double>(peak) / 1024, ru.ru_nvcsw};
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace orvento::bench
