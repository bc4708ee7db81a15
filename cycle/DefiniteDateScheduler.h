#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "DefiniteDate.h"
#include "LocalClock.h"

namespace kalidrome {

class IniFile;

// The calendar rules: a check, every five seconds for the main window's whole life,
// that runs the cycle once for each rule whose date has come and whose marker shows it
// has not fired for that value yet.
//
// The rules and their markers live only in section DefiniteDate of Settings.ini and are
// read anew at every check (hand edits and the editor's saves count at the next check);
// nothing is kept in memory. A marker is written before the cycle runs, so a check that
// runs inside that cycle (the cycle lets pending events through) does not fire the same
// rule again. When a marker cannot be written (Settings.ini read-only), the rule does not
// fire: it would otherwise fire at every check.
//
// Wiring: the main window owns a repeating timer of kCheckPeriodMs, started at creation,
// whose handler is CheckDefiniteDates; cycleNow is the cycle engine's CycleNow.
class DefiniteDateScheduler {
public:
    static constexpr int kCheckPeriodMs = 5000;

    DefiniteDateScheduler(IniFile& settings, const LocalClock& clock, std::function<void()> cycleNow);

    // Checks every rule in index order; each rule that fires runs the cycle once, also
    // when an earlier rule fired in the same check. Never throws.
    void CheckDefiniteDates();

private:
    // Indices below Count (and kMaxRules) that have a Cmd key, ascending. A rule without
    // one has an empty text and can never fire, so it is not read at all.
    std::vector<std::int32_t> ruleIndices(std::int32_t count) const;
    void checkRule(std::int32_t index);
    void fire();

    IniFile& m_settings;
    const LocalClock& m_clock;
    std::function<void()> m_cycleNow;
};

}  // namespace kalidrome
