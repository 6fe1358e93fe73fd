#pragma once
// The report of the facts and their findings: a line per finding, or one
// JSON object (its schema is check/report.schema.json). Portable.

#include "check/facts.h"
#include "check/judge.h"

#include <functional>
#include <string>
#include <vector>

// The version of the JSON's layout: raised when a field changes meaning or
// goes; new fields may come without it.
inline constexpr int kReportSchema = 2;

// "OK    files      fact", then " -> advice" when there is one.
std::string FindingLine(const Finding &finding);
// A line of the watch: "    12.3 s  pressed".
std::string WatchLine(const WatchChange &change);

// What runs between the checks and the report's end: the watch (when asked),
// which calls onChange with each change as it comes, and the end (--load's
// undo). Each adds to the facts.
struct ReportSteps {
    std::function<void(CheckFacts &, const std::function<void(const WatchChange &)> &onChange)>
        watch;
    std::function<void(CheckFacts &)> end;
};
// Runs the steps and hands show each line of the text a person reads as it
// becomes known: the findings as found, each change the watch sees, then the
// findings the watch and the end added. Gives the findings at the end.
std::vector<Finding> ShowReport(CheckFacts &facts, const ReportSteps &steps,
                                const std::function<void(const std::string &)> &show);

// One object: "schema", the header, "result", "exitCode", "complete", an
// object of facts for each check that got that far, in the checks' order,
// and "findings".
std::string ReportJson(const CheckFacts &facts, const std::vector<Finding> &findings);
