#include "support/child_process.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace quillbox::testing {

ChildOutcome run_in_child(const std::function<int()>& body) {
    std::FILE* capture = std::tmpfile();
    if (capture == nullptr) std::abort();
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::fileno(capture), STDERR_FILENO);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::string text;
    std::rewind(capture);
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, capture))
        text.append(buffer, n);
    std::fclose(capture);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

pid_t reaped_pid() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) std::abort();
    return pid;
}

}  // namespace quillbox::testing
