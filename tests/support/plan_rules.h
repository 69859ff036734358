// The rules of a plan's order (mirroring/plan_executor.h) as one table, and random rounds
// of steps to try them on: shared by the tests of each user of the order (the operation
// queue, farlink-ftp mirror), so that a fault in it fails for both.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace test_support {

// A step of a round, on a tree in which "d" and "e" are folders.
struct RuleStep {
    std::string path;         // '/' between names
    std::uint64_t run = 0;    // 1 to 3; 0: none
    bool removal = false;     // a run's removal of the entry
    bool failsFirst = false;  // its first try fails
};

// Three runs of 1 to 4 steps (removals after copies, as a synchronisation queues them)
// and 1 to 4 steps of no run, in the order they are queued, the runs interleaved. No two
// steps of one run, or of none, share a path.
inline std::vector<RuleStep> ruleRound(std::mt19937& random) {
    std::vector<std::vector<RuleStep>> runs(4);  // [0]: no run
    for (std::uint64_t run = 0; run < runs.size(); ++run) {
        std::vector<std::string> paths{"d", "d/x", "d/y", "e", "e/z", "f"};
        std::shuffle(paths.begin(), paths.end(), random);
        for (std::size_t count = 1 + random() % 4; count > 0; --count)
            runs[run].push_back({paths[count], run, run != 0 && random() % 3 == 0, random() % 4 == 0});
        std::stable_partition(runs[run].begin(), runs[run].end(), [](const RuleStep& step) { return !step.removal; });
    }
    std::vector<RuleStep> round;
    while (std::any_of(runs.begin(), runs.end(), [](const auto& run) { return !run.empty(); })) {
        std::vector<RuleStep>& run = runs[random() % runs.size()];
        if (run.empty()) continue;
        round.push_back(run.front());
        run.erase(run.begin());
    }
    return round;
}

// A step not ended, as its user saw it when another was carried out.
struct UnfinishedStep {
    const RuleStep* step;
    std::uint64_t queued;   // when it was last queued, on a clock that only grows,
    std::uint64_t started;  // and started
    bool running;
    bool retried;  // queued again after it failed
};

inline bool touch(const UnfinishedStep& one, const UnfinishedStep& other) {
    const std::string &a = one.step->path, &b = other.step->path;
    return a == b || a.starts_with(b + "/") || b.starts_with(a + "/");
}

// Each rule: whether carrying out a step now breaks it, while another has not ended.
inline const struct {
    const char* rule;
    bool (*breaks)(const UnfinishedStep& carried, const UnfinishedStep& other);
} orderRules[] = {
    {"no two steps touch one entry, or an entry and a folder above it, at once",
     [](const UnfinishedStep& carried, const UnfinishedStep& other) { return other.running && touch(carried, other); }},
    // A retried step goes before its run's waiting removals: not last.
    {"a folder is made before anything goes into it and removed after everything in it",
     [](const UnfinishedStep& carried, const UnfinishedStep& other) {
         return other.queued < carried.queued && !other.retried && !carried.retried && touch(carried, other);
     }},
    {"a run's removal waits for the copies of its run before it",
     [](const UnfinishedStep& carried, const UnfinishedStep& other) {
         return carried.step->removal && !other.step->removal && other.step->run == carried.step->run &&
                other.queued < (other.retried ? carried.started : carried.queued);
     }},
};

// What a round's steps did, from any thread.
class RuleBook {
public:
    // Notes each rule that carrying out `carried` now breaks (`unfinished` holds it too),
    // and returns whether this try succeeds.
    bool carryOut(const UnfinishedStep& carried, const std::vector<UnfinishedStep>& unfinished) {
        std::lock_guard guard(lock);
        const RuleStep& step = *carried.step;
        const std::string what = " (" + step.path + " of run " + std::to_string(step.run) + ")\n";
        for (const UnfinishedStep& other : unfinished) {
            for (const auto& [rule, breaks] : orderRules)
                if (other.step != &step && breaks(carried, other)) broken_ += rule + what;
        }
        if (step.removal && failedCopies[step.run] > 0)
            broken_ += "a run's removal goes only when no copy failed" + what;
        const bool succeeds = tries[&step]++ > 0 || !step.failsFirst;
        if (!succeeds && !step.removal) ++failedCopies[step.run];
        return succeeds;
    }
    // Before a failed step is queued again: its run's failure goes.
    void retrying(const RuleStep& step) {
        std::lock_guard guard(lock);
        if (!step.removal && failedCopies[step.run] > 0) --failedCopies[step.run];
    }
    // Whether a removal of `run` is rightly kept: a copy of it failed, not retried since.
    bool runFailed(std::uint64_t run) {
        std::lock_guard guard(lock);
        return failedCopies[run] > 0;
    }
    std::string broken() {  // the rules broken, each with its step; empty: none
        std::lock_guard guard(lock);
        return broken_;
    }

private:
    std::mutex lock;
    std::map<const RuleStep*, int> tries;
    std::map<std::uint64_t, int> failedCopies;  // by run
    std::string broken_;
};

}  // namespace test_support
