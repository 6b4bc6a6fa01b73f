// Every fuzz target over every input of its committed corpus (seeds and the inputs of
// crashes that were fixed): each must run to its end, and under the sanitizer build
// without a report.

#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/FuzzTarget.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

TEST(FuzzCorpus, EveryTargetSurvivesItsCorpus) {
    ASSERT_FALSE(kelvara::fuzz::targets().empty());
    for (const auto& target : kelvara::fuzz::targets()) {
        const fs::path dir = fs::path(KELVARA_CORPUS_DIR) / target.name;
        std::size_t inputs = 0;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            if (!entry.is_regular_file()) continue;
            auto bytes = kelvara::test::readFileBytes(entry.path().string());
            SCOPED_TRACE(entry.path().string());
            EXPECT_EQ(target.run(bytes.data(), bytes.size()), 0);
            ++inputs;
        }
        EXPECT_GT(inputs, 0u) << "no corpus for " << target.name;
    }
}
