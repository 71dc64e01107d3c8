// The judge of fsck.fat's output: a clean verdict lets nothing pass; after
// a cut only what costs no committed data; never a file whose size runs
// past its chain (its data is gone).
#include <gtest/gtest.h>

#include "fsck_judge.h"

namespace {

using namespace fsck_judge;

std::string report(const std::string& body) {
    return "fsck.fat 4.2 (2021-01-31)\n" + body + "\nLeaving filesystem unchanged.\nimg: 1 files, 10/15843 clusters\n";
}

TEST(FsckJudge, LetsPassOnlyWhatTheVerdictAllows) {
    std::string spare = report("/F.TXT\n  File size is 5000 bytes, cluster chain length is > 5120 bytes.\n"
                               "  Truncating file to 5000 bytes.\nFATs differ but appear to be intact.\n  Using first FAT.\n"
                               "Reclaimed 1 unused cluster (512 bytes).\nFree cluster summary uninitialized (should be 15833)");
    EXPECT_FALSE(complaints(spare, 1, "img", kClean).empty());
    EXPECT_TRUE(complaints(spare, 1, "img", kInterrupted).empty());

    for (const char* lost : {"  File size is 5000 bytes, cluster chain length is 0 bytes.",
                             "  File size is 5000 bytes, cluster chain length is 2048 bytes.",
                             "Free cluster summary wrong (15833 vs. really 15832)"}) {
        std::string out = report(std::string("/F.TXT\n") + lost + "\n  Truncating file to 0 bytes.");
        EXPECT_EQ(complaints(out, 1, "img", kInterrupted), std::vector<std::string>{lost});
    }
    EXPECT_TRUE(complaints("fsck.fat 4.2 (2021-01-31)\nimg: 1 files, 10/15843 clusters\n", 0, "img", kClean).empty());
    EXPECT_FALSE(complaints("fsck.fat 4.2 (2021-01-31)\nimg: 1 files, 10/15843 clusters\n", 1, "img", kClean).empty())
        << "an exit code that says something is wrong";
}

} // namespace
