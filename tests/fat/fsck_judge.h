// The one judge of what fsck.fat -n says about an image, for the FAT module
// tests and the storage tests alike, and the one power-cut sweeper.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace fsck_judge {

// What a verdict may let pass besides a clean volume.
enum Allow : unsigned {
    kClean = 0,
    // Left by a cut between two block writes, before the next mount puts
    // it right: clusters no committed data uses (lost ones, a chain longer
    // than its file's size), a FAT copy a step behind the first, an
    // unknown free count, a FAT12 link that straddles two sectors half
    // written. Never a size beyond the chain, never a wrong free count.
    kInterrupted = 1,
    // During a move the object is briefly under both names; fsck.fat keeps
    // the first and empties the second.
    kMoved = 2,
};

// The lines of fsck.fat's output (exit code rc, run on `image`) that
// `allow` does not let pass; empty means the verdict is good.
std::vector<std::string> complaints(const std::string& out, int rc, const std::string& image, unsigned allow);

// fsck.fat -n on an image: its output, exit code and the verdict.
struct Verdict {
    int rc;
    std::string out;
    std::vector<std::string> bad;
    unsigned long used = 0, total = 0; // clusters, from the summary
    bool ok() const { return bad.empty(); }
};
Verdict check(const std::string& image, unsigned allow);

// Faults at every block write of an action: a run without a fault counts
// its block writes, then for each write k (1 = the first) the action runs
// again from a fresh image with the fault at write k, and the survivor is
// judged. judge(0) judges the run without a fault. Stops early once
// stop() says so. Returns the block writes counted.
struct Sweep {
    std::function<void()> fresh;          // the image (and what survives beside it) as before the action
    std::function<long(long k)> act;      // runs the action, faulting at block write k (0: none); its block writes
    std::function<void(long k)> judge;    // looks at what survived
    std::function<bool()> stop = [] { return false; };
};
long sweep(const Sweep& s);

} // namespace fsck_judge
