// The order in which a plan's steps are carried out, for the operation queue's records
// and farlink-ftp mirror's actions alike: of the waiting steps, which may start now,
// given those running and those done; and a plan carried out by several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace mirroring {

// A step's name, chosen by its user: unique among the steps that have not ended.
using StepId = std::uint64_t;

// One step. Its entries are paths of one of two sides that never touch each other: the
// device ("file://", then '\' between names) and a server ('/' between names); a mirror's
// plan paths ('/' between names) count as a server's.
struct PlanStep {
    std::vector<std::string> entries;
    std::uint64_t run = 0;  // the synchronisation it belongs to; 0: none
    bool removal = false;   // a run's removal; a run's other steps are its copies
};

// The rules. A step waits while an earlier unfinished step, or a running one, touches
// one of its entries (the same entry, or one a folder above the other), so that a folder
// is made before what goes into it and removed after what was in it, and no two steps
// touch one entry at once. A run's removal also waits for its run's copies before it, and
// is to fail when a copy of its run failed. That failure belongs to the run: it stays
// until the copy is retried, however the log of the copy goes. Once started, a removal
// removes only what is still as the plan saw it (mirroring::changedSincePlanned, asked
// right before removing). Every wait is for an earlier step or a running one, so the
// first waiting step always starts in the end. Bookkeeping only: its user holds a lock
// around it.
class PlanExecutor {
public:
    // The step waits, last in order. True when it may start at once. Walks nothing, so
    // that adding many steps stays linear.
    bool add(StepId id, PlanStep step);
    // Up to `most` waiting steps that may start now, first in order first.
    std::vector<StepId> startable(std::size_t most) const;
    // A waiting step runs. False when it is a removal of a run with a failed copy: its
    // user fails it, saying so, and ends it.
    bool start(StepId id);
    // A running step ends; a waiting one is dropped (its user stops).
    void end(StepId id, bool succeeded);
    // A failed step, given again, waits: before the first waiting removal of its run
    // (which would otherwise wait for it while holding back what it waits for), else
    // last. Its failure leaves its run. Returns the step it now stands before.
    std::optional<StepId> retry(StepId id, PlanStep step);

private:
    // Keys of the entries that some steps touch, in order, so that both the folders above
    // an entry and the entries below it are found by a few look-ups.
    class Entries {
    public:
        void add(const PlanStep& step);
        void remove(const PlanStep& step);
        bool touch(const PlanStep& step) const;

    private:
        bool touches(const std::string& key) const;
        std::multiset<std::string> keys;
    };
    struct Unfinished {
        PlanStep step;
        std::list<StepId>::iterator place;  // in order
        bool running = false;
    };
    struct Run {
        int copiesUnfinished = 0;
        int copiesFailed = 0;
    };
    Run runOf(std::uint64_t run) const;
    // Under keys already.
    void join(StepId id, PlanStep step, std::list<StepId>::iterator before);

    std::list<StepId> order;  // the unfinished steps, running ones included
    std::unordered_map<StepId, Unfinished> steps;
    Entries touched;  // by the unfinished steps
    Entries running;
    std::map<std::uint64_t, Run> runs;
};

// A thread's turn: the step it took first (`first`), and when that step is one that may
// take others along, further such steps that may start now, each started as `more` gives
// it (none when none is ready now; asked again later it may give one). Each step the
// turn took ends through `ended`, the first too, from the turn's thread.
using MoreSteps = std::function<std::optional<std::size_t>()>;
using StepEnded = std::function<void(std::size_t step, bool succeeded)>;
using Turn = std::function<void(std::size_t first, const MoreSteps& more, const StepEnded& ended, int thread)>;

// Carries out `steps` on `threads` threads at once (the caller's among them), each step as
// soon as the order lets it, the first in order first; returns once all have ended.
// `perform` carries out a turn on the thread of that number (0: the caller's); the steps
// `joins` says may go together (never removals) join a turn that began with one of them.
// A removal of a run with a failed copy is not carried out: it fails, and goes to
// `kept(step)` instead.
void carryOut(const std::vector<PlanStep>& steps, int threads, const std::function<bool(std::size_t step)>& joins,
              const Turn& perform, const std::function<void(std::size_t step)>& kept);

}  // namespace mirroring
