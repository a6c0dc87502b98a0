// tools/tarvo/converter_run.h: a run of the converter as `tarvo import` and `tarvo export` make it:
// through the registered module's automation interface when the converter is registered (as any
// automation caller's run), else straight to the driver linked into the tool; and how it ended.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/com/com.h"

template <class Outcome>
struct ConverterRun {
    int rc = 0;  // the driver's result (a run through the registry answers 0)
    Outcome outcome;
    std::string registryFailure;  // why the registered converter could not be called; empty when it was
    bool outcomeSeen = true;      // false: the registry named another copy of the module
};

// Calls `method` of the converter registered as `progId`. False when none is registered; else true,
// with *failure holding why the call did not reach it (empty when it did).
bool invokeRegistered(const char* progId, const wchar_t* method, std::vector<_variant_t> args, std::string* failure);

// throughRegistry(std::string* failure) is invokeRegistered's answer for the run (false: not
// registered, or a call it cannot make); direct(Outcome*) runs the linked driver, giving its result.
template <class Outcome, class ThroughRegistry, class Direct>
ConverterRun<Outcome> runConverter(ThroughRegistry throughRegistry, Direct direct, unsigned long (*runCount)(),
                                   const Outcome& (*lastOutcome)()) {
    ConverterRun<Outcome> run;
    const unsigned long runsBefore = runCount();
    if (!throughRegistry(&run.registryFailure)) {
        run.rc = direct(&run.outcome);
    } else if (run.registryFailure.empty()) {
        // The automation method answers S_OK whatever the run did; its outcome is the module's run
        // state, which the tool shares when the registry names the module it links.
        run.outcomeSeen = runCount() != runsBefore;
        if (run.outcomeSeen) run.outcome = lastOutcome();
    }
    return run;
}

// When the run gave no outcome to report (the registered converter failed, or is another copy of
// the module), says so on `err` as "tarvo COMMAND: ..." and answers true (the command exits 1).
bool reportUnseenOutcome(const char* command, const char* subject, const std::string& registryFailure,
                         bool outcomeSeen, const std::string& logPath, FILE* err);
