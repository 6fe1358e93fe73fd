#pragma once
// The report of the facts and their findings: a line per finding, or one
// JSON object (its schema is check/report.schema.json). Portable.

#include "check/facts.h"
#include "check/judge.h"

#include <string>
#include <vector>

// The version of the JSON's layout: raised when a field changes meaning or
// goes; new fields may come without it.
inline constexpr int kReportSchema = 2;

// "OK    files      fact", then " -> advice" when there is one.
std::string FindingLine(const Finding &finding);
// A line of the watch: "    12.3 s  pressed".
std::string WatchLine(const WatchChange &change);

// One object: "schema", the header, "result", "exitCode", "complete", an
// object of facts for each check that got that far, in the checks' order,
// and "findings".
std::string ReportJson(const CheckFacts &facts, const std::vector<Finding> &findings);
