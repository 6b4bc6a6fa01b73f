#include "partition/VolumeRecord.h"

namespace kelvara {

std::uint64_t listedSizeBytes(const std::string& sizeText) {
    constexpr std::uint64_t kMaxMiB = std::uint64_t(1) << 40;
    std::size_t i = 0;
    while (i < sizeText.size() && (sizeText[i] == ' ' || sizeText[i] == '\t')) ++i;
    bool negative = false;
    if (i < sizeText.size() && (sizeText[i] == '+' || sizeText[i] == '-')) negative = sizeText[i++] == '-';
    std::uint64_t mib = 0;
    for (; i < sizeText.size() && sizeText[i] >= '0' && sizeText[i] <= '9'; ++i) {
        mib = mib * 10 + static_cast<std::uint64_t>(sizeText[i] - '0');
        if (mib >= kMaxMiB) {
            mib = kMaxMiB;
            break;
        }
    }
    return negative ? 0 : mib << 20;
}

}  // namespace kelvara
