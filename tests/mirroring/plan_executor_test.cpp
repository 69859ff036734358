// A plan carried out by several threads, as farlink-ftp mirror carries out its plan: the
// order's rules hold at every step in random rounds (tests/support/plan_rules.h), copies
// joining a thread's turn as they become ready.
#include "mirroring/plan_executor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/plan_rules.h"

namespace {

using test_support::UnfinishedStep;

// Every step ends once, carried out or (a removal of a run with a failed copy) kept.
TEST(CarryOut, TheOrdersRulesHoldInRandomRounds) {
    for (unsigned seed = 1; seed <= 2000 && !testing::Test::HasFailure(); ++seed) {
        std::mt19937 random(seed);
        const std::vector<test_support::RuleStep> round = test_support::ruleRound(random);
        std::vector<mirroring::PlanStep> steps;
        for (const test_support::RuleStep& step : round) steps.push_back({{step.path}, step.run, step.removal});
        test_support::RuleBook book;
        std::mutex lock;                     // over the rest
        std::vector<UnfinishedStep> states;  // by step, and when each ended (0: not yet)
        std::vector<std::uint64_t> ended(round.size());
        for (std::size_t index = 0; index < round.size(); ++index)
            states.push_back({&round[index], index + 1, 0, false, false});
        std::uint64_t clock = round.size();
        const auto unfinished = [&] {
            std::vector<UnfinishedStep> now;
            for (std::size_t index = 0; index < round.size(); ++index)
                if (!ended[index]) now.push_back(states[index]);
            return now;
        };
        // A turn takes up to three steps at once (copies take others along), then carries
        // them out one by one.
        const auto start = [&](std::size_t index) {
            std::lock_guard held(lock);
            states[index].running = true;
            states[index].started = ++clock;
        };
        const auto carry = [&](std::size_t index) {
            std::unique_lock held(lock);
            const std::vector<UnfinishedStep> now = unfinished();
            const auto pause = std::chrono::microseconds(random() % 100);
            held.unlock();
            const bool succeeds = book.carryOut(states[index], now);
            std::this_thread::sleep_for(pause);
            held.lock();
            ended[index] = ++clock;
            return succeeds;
        };
        mirroring::carryOut(
            steps, 4, [&](std::size_t index) { return !round[index].removal; },
            [&](std::size_t first, const mirroring::MoreSteps& more, const mirroring::StepEnded& end, int) {
                for (std::vector<std::size_t> turn{first}; !turn.empty();) {
                    for (std::optional<std::size_t> step; turn.size() < 3 && (step = more());) turn.push_back(*step);
                    for (const std::size_t index : turn) start(index);
                    for (const std::size_t index : std::exchange(turn, {})) end(index, carry(index));
                    if (const std::optional<std::size_t> step = more()) turn.push_back(*step);
                }
            },
            [&](std::size_t index) {
                std::lock_guard held(lock);
                EXPECT_TRUE(book.runFailed(round[index].run)) << "seed " << seed << ": kept " << round[index].path;
                ended[index] = ++clock;
            });
        EXPECT_EQ(book.broken(), "") << "seed " << seed;
        EXPECT_TRUE(unfinished().empty()) << "seed " << seed;
    }
}

}  // namespace
