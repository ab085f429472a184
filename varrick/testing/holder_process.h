// Test support: another workstation as a varrick_lock_holder process that
// holds a database open, and optionally a table deny-write, until released
// or killed. The tests that use it define VARRICK_LOCK_HOLDER, the helper's
// path.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace varrick::testing {

class HolderProcess {
 public:
  // `table` "-" holds the database alone. Empty `machine` and `user` keep the
  // process's own identity. Returns once the helper has answered.
  HolderProcess(const std::string& database, const std::string& table,
                const std::string& machine = {}, const std::string& user = {}) {
    int in[2], out[2];
    // Close-on-exec: a holder started later must not keep this one's
    // standard input open (dup2 clears the flag on the child's copies).
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) std::abort();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<const char*> argv{VARRICK_LOCK_HOLDER, database.c_str(), table.c_str()};
    if (!machine.empty()) {
      argv.push_back(machine.c_str());
      argv.push_back(user.c_str());
    }
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, VARRICK_LOCK_HOLDER, &actions, nullptr, const_cast<char**>(argv.data()),
                    environ) != 0) {
      std::abort();
    }
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    FILE* answer = fdopen(out[0], "r");
    char line[64] = {};
    if (fgets(line, sizeof line, answer) != nullptr) answer_ = line;
    fclose(answer);
    while (!answer_.empty() && answer_.back() == '\n') answer_.pop_back();
  }
  ~HolderProcess() { release(); }
  HolderProcess(const HolderProcess&) = delete;
  HolderProcess& operator=(const HolderProcess&) = delete;

  const std::string& answer() const { return answer_; }  // "held" or "refused N"

  // Ends standard input: the holder closes everything and exits.
  void release() { end(false); }
  // kill -9: the holder gets no chance to close anything.
  void kill() { end(true); }

 private:
  void end(bool hard) {
    if (pid_ <= 0) return;
    if (hard) ::kill(pid_, SIGKILL);
    close(stdin_);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  std::string answer_;
};

}  // namespace varrick::testing
