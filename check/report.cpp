#include "check/report.h"

#include <cstdio>

namespace {

std::string Hex2(unsigned char c) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", c);
    return text;
}

} // namespace

const char *VerdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::Ok:
        return "OK";
    case Verdict::Info:
        return "INFO";
    case Verdict::Skip:
        return "SKIP";
    case Verdict::Warn:
        return "WARN";
    default:
        return "FAIL";
    }
}

std::string FindingLine(const Finding &finding) {
    char head[32];
    std::snprintf(head, sizeof head, "%-4s  %-10s ", VerdictName(finding.verdict),
                  finding.check.c_str());
    std::string line = head + finding.fact;
    if (!finding.action.empty())
        line += " -> " + finding.action;
    return line;
}

std::string JsonString(const std::string &utf8) {
    std::string out = "\"";
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\')
            out += {'\\', ch};
        else if (c < 0x20)
            out += "\\u00" + Hex2(c);
        else
            out += ch;
    }
    return out + "\"";
}

std::string QuotedForDisplay(const std::string &text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F)
            out += "\\x" + Hex2(c);
        else
            out += ch;
    }
    return out + "\"";
}

void Report::Add(Verdict verdict, const char *code, const std::string &fact,
                 const std::string &action) {
    const std::string full = code;
    findings_.push_back({full.substr(0, full.find('.')), full, verdict, fact, action});
    if (onLine)
        onLine(FindingLine(findings_.back()));
}

void Report::Header(const std::string &name, const std::string &text) {
    header_.emplace_back(name, text);
}

void Report::FactText(const std::string &check, const std::string &name, const std::string &text) {
    facts_.push_back({check, name, {text}, false, {}});
}

void Report::FactNumber(const std::string &check, const std::string &name, long long number) {
    facts_.push_back({check, name, {}, false, std::to_string(number)});
}

void Report::FactFlag(const std::string &check, const std::string &name, bool flag) {
    facts_.push_back({check, name, {}, false, flag ? "true" : "false"});
}

void Report::FactJson(const std::string &check, const std::string &name, const std::string &json) {
    facts_.push_back({check, name, {}, false, json});
}

void Report::FactTexts(const std::string &check, const std::string &name,
                       const std::vector<std::string> &texts) {
    facts_.push_back({check, name, texts, true, {}});
}

int Report::ExitCode() const {
    int code = 0;
    for (const Finding &finding : findings_) {
        const int own = finding.verdict == Verdict::Fail ? 2 : finding.verdict == Verdict::Warn;
        code = own > code ? own : code;
    }
    return code;
}

bool Report::Complete() const {
    for (const Finding &finding : findings_) {
        if (finding.verdict == Verdict::Skip)
            return false;
    }
    return true;
}

std::string Report::Json(const Utf8Converter &toUtf8) const {
    static const char *const kResults[] = {"OK", "WARN", "FAIL"};
    const int exitCode = ExitCode();
    std::string json = "{\"schema\": " + std::to_string(kReportSchema);
    for (const auto &[name, text] : header_)
        json += ", " + JsonString(name) + ": " + JsonString(toUtf8(text));
    json += ", \"result\": " + JsonString(kResults[exitCode]) +
            ", \"exitCode\": " + std::to_string(exitCode) +
            ", \"complete\": " + (Complete() ? "true" : "false");

    // Facts grouped by check, the checks in the order they first gave one.
    std::vector<std::string> checks;
    for (const Fact &fact : facts_) {
        bool seen = false;
        for (const std::string &check : checks)
            seen = seen || check == fact.check;
        if (!seen)
            checks.push_back(fact.check);
    }
    for (const std::string &check : checks) {
        json += ", " + JsonString(check) + ": {";
        const char *separator = "";
        for (const Fact &fact : facts_) {
            if (fact.check != check)
                continue;
            json += separator + JsonString(fact.name) + ": ";
            if (fact.isList) {
                json += "[";
                for (std::size_t i = 0; i < fact.texts.size(); ++i)
                    json += (i ? ", " : "") + JsonString(toUtf8(fact.texts[i]));
                json += "]";
            } else {
                json += fact.texts.empty() ? fact.json : JsonString(toUtf8(fact.texts[0]));
            }
            separator = ", ";
        }
        json += "}";
    }

    json += ", \"findings\": [";
    const char *separator = "";
    for (const Finding &finding : findings_) {
        json += separator;
        json += "{\"check\": " + JsonString(finding.check) +
                ", \"code\": " + JsonString(finding.code) +
                ", \"verdict\": " + JsonString(VerdictName(finding.verdict)) +
                ", \"fact\": " + JsonString(toUtf8(finding.fact)) +
                ", \"action\": " + JsonString(toUtf8(finding.action)) + "}";
        separator = ", ";
    }
    return json + "]}";
}
