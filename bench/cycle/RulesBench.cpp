// Calendar rules benchmark, each figure next to a reference measured in the same run:
//
//   Save 1000 rules   RuleList::Save (one batched rewrite)  vs  the same key writes, one
//                                                              rewrite of Settings.ini each
//   Check 1000 rules  CheckDefiniteDates on an unchanged file vs the first check after a change
//
// The goal for the save is under 100 ms.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "DefiniteDate.h"
#include "DefiniteDateScheduler.h"
#include "IniFile.h"
#include "LocalClock.h"

using namespace kalidrome;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRules = 1000;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string FreshSettings(const std::string& folder, const char* name) {
    const std::string path = folder + "/" + name;
    std::filesystem::remove(path);
    IniFile(path).writeString("Options", "Interval", "600");
    return path;
}

RuleList ThousandRules() {
    RuleList rules;
    for (int i = 0; i < kRules; ++i) {
        RuleLine line;
        line.text = std::to_string(i % 28 + 1) + "th of each month";
        line.info = TDateInfo{i % 28 + 1, -2, -2};
        rules.Add(line);
    }
    return rules;
}

struct FixedClock : LocalClock {
    LocalDateTime now() const override { return LocalDateTime{2026, 1, 15, 0, 0, 0}; }
};

}  // namespace

int main() {
    char pattern[] = "/tmp/kalidrome-rules-bench-XXXXXX";
    const char* folder = ::mkdtemp(pattern);
    if (!folder) return 1;

    const RuleList rules = ThousandRules();

    // The reference: every key written on its own, as the save did before it was batched.
    IniFile unbatched(FreshSettings(folder, "unbatched.ini"));
    auto t0 = Clock::now();
    WriteRuleLines(unbatched, rules.lines());
    const double unbatchedMs = Ms(Clock::now() - t0);

    double batchedMs = 1e9;
    for (int round = 0; round < 5; ++round) {
        IniFile batched(FreshSettings(folder, "batched.ini"));
        t0 = Clock::now();
        rules.Save(batched);
        batchedMs = std::min(batchedMs, Ms(Clock::now() - t0));
    }
    const std::string saved = folder + std::string("/batched.ini");
    const bool same = IniFile(saved).readSectionKeys("DefiniteDate") ==
                      IniFile(folder + std::string("/unbatched.ini")).readSectionKeys("DefiniteDate");

    std::printf("Save %d rules      batched %8.1f ms   one rewrite per key %8.1f ms   ratio %.1fx   %s   (goal < 100 ms: %s)\n",
                kRules, batchedMs, unbatchedMs, unbatchedMs / batchedMs, same ? "same keys" : "KEYS DIFFER",
                batchedMs < 100 ? "met" : "MISSED");

    // The check: the first after a change reads the file; later ones find it unchanged.
    IniFile settings(saved);
    FixedClock clock;
    int fired = 0;
    DefiniteDateScheduler scheduler(settings, clock, [&] { ++fired; });
    t0 = Clock::now();
    scheduler.CheckDefiniteDates();
    const double firstMs = Ms(Clock::now() - t0);
    double unchangedMs = 1e9;
    for (int round = 0; round < 5; ++round) {
        t0 = Clock::now();
        scheduler.CheckDefiniteDates();
        unchangedMs = std::min(unchangedMs, Ms(Clock::now() - t0));
    }
    std::printf("Check %d rules     unchanged file %6.1f ms   first check after a change %8.1f ms   (%d fired)\n",
                kRules, unchangedMs, firstMs, fired);
    std::filesystem::remove_all(folder);
    return 0;
}
