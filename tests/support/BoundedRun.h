#pragma once
// Runs kelvara-cli as a child with a wall-time bound and reports how it ended and how much
// memory it used at most: the guard the hostile-image tests put around every command.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvara::test {

struct BoundedResult {
    bool timedOut = false;   // killed at the bound
    int exitCode = -1;       // when it exited normally
    int signal = 0;          // when a signal ended it (other than our kill at the bound)
    std::uint64_t peakRssBytes = 0;
    double seconds = 0;
    std::string out;         // the first outputLimit bytes of stdout
    std::string err;
};

// kelvara-cli with args, killed after `bound`; stdout and stderr go to scratch files,
// and the child may write at most fileLimit bytes to any file.
BoundedResult runCliBounded(const std::vector<std::string>& args, std::chrono::milliseconds bound,
                            std::uint64_t fileLimit = 8ull << 30);

// How much slower the code under test runs in this build (sanitizers): bounds scale by it.
int buildSlowdown();

}  // namespace kelvara::test
