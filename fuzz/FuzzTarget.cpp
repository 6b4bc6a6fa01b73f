#include "fuzz/FuzzTarget.h"

namespace kelvara::fuzz {

std::vector<Target>& targets() {
    static std::vector<Target> all;
    return all;
}

}  // namespace kelvara::fuzz
