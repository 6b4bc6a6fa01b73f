#pragma once
// One fuzz target: a function over an input of bytes. Built with libFuzzer each target
// is its own program (LLVMFuzzerTestOneInput); in the normal test build every target is
// registered by name so that the committed corpora are replayed by the test suite.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvara::fuzz {

using FuzzFunction = int (*)(const std::uint8_t* data, std::size_t size);

struct Target {
    std::string name;
    FuzzFunction run;
};
std::vector<Target>& targets();

struct Registration {
    Registration(const char* name, FuzzFunction run) { targets().push_back({name, run}); }
};

}  // namespace kelvara::fuzz

#ifdef KELVARA_LIBFUZZER
#define KELVARA_FUZZ_ENTRY(NAME)                                                        \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
        return fuzzBody_##NAME(data, size);                                             \
    }
#else
#define KELVARA_FUZZ_ENTRY(NAME) \
    static const ::kelvara::fuzz::Registration fuzzRegistration_##NAME(#NAME, &fuzzBody_##NAME);
#endif

#define KELVARA_FUZZ_TARGET(NAME)                                              \
    static int fuzzBody_##NAME(const std::uint8_t* data, std::size_t size);    \
    KELVARA_FUZZ_ENTRY(NAME)                                                   \
    static int fuzzBody_##NAME(const std::uint8_t* data, std::size_t size)
