#include "mirroring/plan_executor.h"

#include <condition_variable>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

namespace mirroring {
namespace {

constexpr std::string_view devicePrefix = "file://";

bool onDevice(std::string_view path) { return path.starts_with(devicePrefix); }
char separatorOf(std::string_view path) { return onDevice(path) ? '\\' : '/'; }

// An entry as a key: trailing separators go, but for a root's.
std::string keyOf(std::string_view path) {
    const std::size_t rootEnd = onDevice(path) ? devicePrefix.size() + 1 : 1;
    while (path.size() > rootEnd && path.back() == separatorOf(path)) path.remove_suffix(1);
    return std::string(path);
}

// The step with its entries as keys; none empty.
PlanStep withKeys(PlanStep step) {
    for (std::string& entry : step.entries) entry = keyOf(entry);
    std::erase(step.entries, std::string());
    return step;
}

bool isRunRemoval(const PlanStep& step) { return step.run != 0 && step.removal; }
bool isRunCopy(const PlanStep& step) { return step.run != 0 && !step.removal; }

}  // namespace

void PlanExecutor::Entries::add(const PlanStep& step) {
    for (const std::string& entry : step.entries) keys.insert(entry);
}

void PlanExecutor::Entries::remove(const PlanStep& step) {
    for (const std::string& entry : step.entries) keys.erase(keys.find(entry));
}

bool PlanExecutor::Entries::touch(const PlanStep& step) const {
    for (const std::string& entry : step.entries) {
        if (touches(entry)) return true;
    }
    return false;
}

// The same entry, one of the folders above it, or one below it.
bool PlanExecutor::Entries::touches(const std::string& key) const {
    const char separator = separatorOf(key);
    const std::size_t first = onDevice(key) ? devicePrefix.size() : 0;
    for (std::size_t at = key.find(separator, first); at != std::string::npos; at = key.find(separator, at + 1)) {
        // A root keeps its separator; every other folder is named without one.
        if (keys.contains(key.substr(0, at == first ? at + 1 : at))) return true;
    }
    if (keys.contains(key)) return true;
    const std::string below = key.back() == separator ? key : key + separator;
    const auto next = keys.lower_bound(below);
    return next != keys.end() && next->starts_with(below);
}

PlanExecutor::Run PlanExecutor::runOf(std::uint64_t run) const {
    const auto found = runs.find(run);
    return found == runs.end() ? Run{} : found->second;
}

void PlanExecutor::join(StepId id, PlanStep step, std::list<StepId>::iterator before) {
    touched.add(step);
    if (isRunCopy(step)) ++runs[step.run].copiesUnfinished;
    steps[id] = {std::move(step), order.insert(before, id)};
}

bool PlanExecutor::add(StepId id, PlanStep step) {
    // Last in order, it waits for every unfinished step that touches it, and a removal for
    // every unfinished copy of its run.
    step = withKeys(std::move(step));
    const bool waits = touched.touch(step) || (isRunRemoval(step) && runOf(step.run).copiesUnfinished > 0);
    join(id, std::move(step), order.end());
    return !waits;
}

std::vector<StepId> PlanExecutor::startable(std::size_t most) const {
    std::vector<StepId> ready;
    Entries earlier;                            // of the waiting steps walked
    std::map<std::uint64_t, int> copiesBefore;  // by run: its unfinished copies walked
    for (auto id = order.begin(); id != order.end() && ready.size() < most; ++id) {
        const Unfinished& unfinished = steps.at(*id);
        const PlanStep& step = unfinished.step;
        if (!unfinished.running) {
            const bool waits = running.touch(step) || earlier.touch(step) ||
                               (isRunRemoval(step) && copiesBefore[step.run] > 0);
            if (!waits) ready.push_back(*id);
            earlier.add(step);
        }
        if (isRunCopy(step)) ++copiesBefore[step.run];
    }
    return ready;
}

bool PlanExecutor::start(StepId id) {
    Unfinished& unfinished = steps.at(id);
    unfinished.running = true;
    running.add(unfinished.step);
    const PlanStep& step = unfinished.step;
    return !isRunRemoval(step) || runOf(step.run).copiesFailed == 0;
}

void PlanExecutor::end(StepId id, bool succeeded) {
    const auto found = steps.find(id);
    const PlanStep& step = found->second.step;
    if (found->second.running) running.remove(step);
    touched.remove(step);
    order.erase(found->second.place);
    if (isRunCopy(step)) {
        Run& run = runs[step.run];
        --run.copiesUnfinished;
        if (!succeeded) ++run.copiesFailed;
        if (run.copiesUnfinished == 0 && run.copiesFailed == 0) runs.erase(step.run);
    }
    steps.erase(found);
}

std::optional<StepId> PlanExecutor::retry(StepId id, PlanStep step) {
    auto before = order.end();
    for (auto other = order.begin(); step.run != 0 && other != order.end(); ++other) {
        const Unfinished& unfinished = steps.at(*other);
        if (!unfinished.running && isRunRemoval(unfinished.step) && unfinished.step.run == step.run) {
            before = other;
            break;
        }
    }
    if (isRunCopy(step) && runOf(step.run).copiesFailed > 0) --runs[step.run].copiesFailed;
    join(id, withKeys(std::move(step)), before);
    if (before == order.end()) return std::nullopt;
    return *before;
}

void carryOut(const std::vector<PlanStep>& steps, int threads, const std::function<bool(std::size_t step)>& joins,
              const Turn& perform, const std::function<void(std::size_t step)>& kept) {
    PlanExecutor order;
    for (std::size_t step = 0; step < steps.size(); ++step) order.add(step, steps[step]);
    std::mutex lock;  // over `order` and `unfinished`
    std::condition_variable changed;
    std::size_t unfinished = steps.size();
    const StepEnded ended = [&](std::size_t step, bool succeeded) {
        std::lock_guard held(lock);
        order.end(step, succeeded);
        --unfinished;
        changed.notify_all();
    };
    const auto joinable = [&](std::size_t step) { return !steps[step].removal && joins && joins(step); };
    const auto work = [&](int thread) {
        std::unique_lock held(lock);
        for (std::vector<StepId> next;;) {
            changed.wait(held, [&] { return unfinished == 0 || !(next = order.startable(1)).empty(); });
            if (unfinished == 0) return;
            const std::size_t first = next[0];
            const bool mayAct = order.start(first);
            held.unlock();
            const MoreSteps more = [&]() -> std::optional<std::size_t> {
                if (!joinable(first)) return std::nullopt;
                std::lock_guard again(lock);
                for (const StepId step : order.startable(steps.size())) {
                    if (!joinable(step)) continue;
                    order.start(step);
                    return step;
                }
                return std::nullopt;
            };
            if (mayAct) {
                perform(first, more, ended, thread);
            } else {
                kept(first);
                ended(first, false);
            }
            held.lock();
        }
    };
    std::vector<std::thread> helpers;
    for (int thread = 1; thread < threads; ++thread) helpers.emplace_back(work, thread);
    work(0);
    for (std::thread& helper : helpers) helper.join();
}

}  // namespace mirroring
