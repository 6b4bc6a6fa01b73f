#include "support/BoundedRun.h"

#include <fcntl.h>
#include <cerrno>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "support/TestSupport.h"

namespace kelvara::test {

namespace {

std::string slurpHead(const std::string& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::string s(limit, '\0');
    in.read(s.data(), static_cast<std::streamsize>(limit));
    s.resize(static_cast<std::size_t>(in.gcount()));
    return s;
}

}  // namespace

int buildSlowdown() {
#ifdef KELVARA_TEST_SANITIZED
    return 5;
#else
    return 1;
#endif
}

BoundedResult runCliBounded(const std::vector<std::string>& args, std::chrono::milliseconds bound,
                            std::uint64_t fileLimit) {
    ScratchDir dir;
    const std::string outPath = dir.file("out"), errPath = dir.file("err");
    std::vector<std::string> argv{KELVARA_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargs;
    for (auto& a : argv) cargs.push_back(a.data());
    cargs.push_back(nullptr);

    BoundedResult r;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) return r;
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) ::_exit(127);
        ::dup2(in, 0), ::dup2(out, 1), ::dup2(err, 2);
        const rlimit fsize{fileLimit, fileLimit};
        ::setrlimit(RLIMIT_FSIZE, &fsize);
        ::execv(cargs[0], cargs.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    bool killed = false;
    for (;;) {
        const pid_t done = ::wait4(pid, &status, killed ? 0 : WNOHANG, &usage);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) break;
        if (!killed && std::chrono::steady_clock::now() - start > bound) {
            ::kill(pid, SIGKILL);
            killed = true;
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.timedOut = killed;
    r.peakRssBytes = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
    if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status) && !killed) r.signal = WTERMSIG(status);
    r.out = slurpHead(outPath, 64u << 20);
    r.err = slurpHead(errPath, 1u << 20);
    return r;
}

}  // namespace kelvara::test
