#pragma once
// What the check tool found: a line per finding (OK, INFO, SKIP, WARN or
// FAIL, its stable code, the fact, and for the others than OK what to do) and
// the facts behind them, grouped by check, for the JSON output. Portable.

#include <functional>
#include <string>
#include <vector>

// INFO: a fact of the moment (a button held, nobody at the console), no fault
// of the machine's. SKIP: a check that could not be made here (not
// elevated...), which is no problem of the machine's either, but leaves the
// report incomplete.
enum class Verdict { Ok, Info, Skip, Warn, Fail };

// The version of the JSON's layout: raised when a field changes meaning or
// goes; new fields may come without it.
inline constexpr int kReportSchema = 1;

struct Finding {
    std::string check;
    std::string code; // "check.what", stable across releases
    Verdict verdict;
    std::string fact;
    std::string action; // empty for OK
};

// Converts a text of the machine's ANSI code page to UTF-8.
using Utf8Converter = std::function<std::string(const std::string &ansi)>;

class Report {
  public:
    // Called with each finding's line as it is added.
    std::function<void(const std::string &line)> onLine;

    // code is "check.what" (check/finding_codes.h): the finding belongs to
    // that check.
    void Add(Verdict verdict, const char *code, const std::string &fact,
             const std::string &action = {});
    // A text field at the top of the JSON, after "schema": what produced it,
    // where and when.
    void Header(const std::string &name, const std::string &text);
    void FactText(const std::string &check, const std::string &name, const std::string &text);
    void FactNumber(const std::string &check, const std::string &name, long long number);
    void FactFlag(const std::string &check, const std::string &name, bool flag);
    void FactTexts(const std::string &check, const std::string &name,
                   const std::vector<std::string> &texts);
    // A JSON value the caller built of numbers and ASCII names.
    void FactJson(const std::string &check, const std::string &name, const std::string &json);

    const std::vector<Finding> &Findings() const { return findings_; }
    // 0 when every finding is OK, INFO or SKIP, 1 when one warns, 2 when one
    // fails.
    int ExitCode() const;
    // False when a check was skipped.
    bool Complete() const;
    // One object: "schema", the header fields, "result", "exitCode",
    // "complete", an object of facts per check in the order the checks came,
    // and "findings".
    std::string Json(const Utf8Converter &toUtf8) const;

  private:
    struct Fact {
        std::string check, name;
        std::vector<std::string> texts; // a text, or a list of them, for JSON strings
        bool isList;
        std::string json; // any other value
    };
    std::vector<Finding> findings_;
    std::vector<std::pair<std::string, std::string>> header_;
    std::vector<Fact> facts_;
};

const char *VerdictName(Verdict verdict);
// "OK    files      fact", then " -> action" when there is one.
std::string FindingLine(const Finding &finding);
// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string &utf8);
// The text in double quotes, control characters shown as \xNN, so that blanks
// at either end and tabs can be seen.
std::string QuotedForDisplay(const std::string &text);
