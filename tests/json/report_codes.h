#pragma once
// The findings of a check tool report, read with a JSON parser, for the
// native and the Wine tests alike.

#include <nlohmann/json.hpp>

#include <set>
#include <string>

// "code VERDICT, ..." of the report's findings whose check is among checks
// (among true) or is not (among false); nothing from a report that is no
// JSON object.
inline std::string Codes(const nlohmann::json &report, const std::set<std::string> &checks,
                         bool among) {
    std::string codes;
    for (const nlohmann::json &finding :
         report.is_object() ? report.value("findings", nlohmann::json()) : nlohmann::json())
        if ((checks.count(finding.value("check", "")) != 0) == among)
            codes += (codes.empty() ? "" : ", ") + finding.value("code", "") + " " +
                     finding.value("verdict", "");
    return codes;
}
