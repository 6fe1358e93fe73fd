#include "check/render.h"

#include <algorithm>
#include <cstdio>

namespace {

// A JSON object's members, written in order; texts are UTF-8.
class JsonObject {
  public:
    JsonObject &Text(const char *name, const std::string &text) { return Raw(name, Quoted(text)); }
    JsonObject &Number(const char *name, unsigned long long number) {
        return Raw(name, std::to_string(number));
    }
    JsonObject &Flag(const char *name, bool flag) { return Raw(name, flag ? "true" : "false"); }
    JsonObject &Texts(const char *name, const std::vector<std::string> &texts) {
        std::string list;
        for (const std::string &text : texts)
            list += (list.empty() ? "" : ", ") + Quoted(text);
        return Raw(name, "[" + list + "]");
    }
    JsonObject &Raw(const char *name, const std::string &json) {
        members_ += (members_.empty() ? "" : ", ") + Quoted(name) + ": " + json;
        return *this;
    }
    std::string Json() const { return "{" + members_ + "}"; }

    static std::string Quoted(const std::string &utf8) {
        std::string out = "\"";
        for (const char ch : utf8) {
            const auto c = static_cast<unsigned char>(ch);
            if (c == '"' || c == '\\') {
                out += {'\\', ch};
            } else if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
                out += escaped;
            } else {
                out += ch;
            }
        }
        return out + "\"";
    }

  private:
    std::string members_;
};

std::string Optional(const std::optional<bool> &flag) {
    return !flag ? "null" : *flag ? "true" : "false";
}

void AddService(JsonObject &json, const ServiceFacts &s) {
    JsonObject group;
    group.Flag("registered", s.found == ServiceFacts::Found::Registered);
    if (s.found == ServiceFacts::Found::Registered)
        group.Text("imagePath", s.imagePath)
            .Text("start", StartName(s.start))
            .Text("state", StateName(s.state));
    json.Raw("service", group.Json());
}

void AddBoard(JsonObject &json, const BoardFacts &b) {
    static const char *const kWmi[] = {"answered", "noProductText", "noBaseboard", "failed"};
    JsonObject group;
    group.Text("wmi", kWmi[static_cast<int>(b.wmi)]).Flag("iniUtf8Mark", b.mark != IniMark::None);
    if (b.wmi == WmiAnswer::Product)
        group.Text("product", b.product)
            .Texts("entries", b.entries)
            .Number("matchingKey", static_cast<unsigned>(b.matchingKey))
            .Number("inputPort", b.inputPort)
            .Number("inputBit", b.inputBit);
    json.Raw("board", group.Json());
}

void AddDriver(JsonObject &json, const DriverFacts &d) {
    JsonObject group;
    group.Flag("deviceOpen", d.deviceOpen);
    if (d.registrationRead) {
        group.Flag("registered", d.registration.has_value());
        if (d.registration)
            group.Text("imagePath", d.registration->imagePath)
                .Text("state", StateName(d.registration->state))
                .Text("start", StartName(d.registration->start));
    }
    if (!d.loadRefusedFor.empty())
        group.Texts("loadRefusedFor", d.loadRefusedFor);
    if (d.load) {
        group.Flag("disabled", d.load->disabled);
        const DriverStep step = d.load->failedStep;
        if (step == DriverStep::Start)
            group.Number("startError", d.load->error.number);
        else if (step == DriverStep::Create || step == DriverStep::Repoint)
            group.Number("registerError", d.load->error.number);
    }
    json.Raw("driver", group.Json());
}

void AddButton(JsonObject &json, const CheckFacts &f) {
    JsonObject group;
    const bool level = f.button && f.button->read && !f.button->readFailed;
    if (level)
        group.Text("level", f.button->pressed ? "pressed" : "released");
    if (f.watch && f.watch->ran) {
        std::string changes;
        for (const WatchChange &change : f.watch->changes)
            changes += (changes.empty() ? "" : ", ") +
                       JsonObject()
                           .Number("ms", change.ms)
                           .Text("level", change.pressed ? "pressed" : "released")
                           .Json();
        group.Raw("watch", "[" + changes + "]").Number("watchFailedReads", f.watch->failedReads);
    }
    if (level || (f.watch && f.watch->ran))
        json.Raw("button", group.Json());
}

void AddUser(JsonObject &json, const UserFacts &u) {
    JsonObject group;
    group.Raw("consoleSession",
              u.consoleSession ? std::to_string(*u.consoleSession) : std::string("null"));
    if (const std::optional<ConsoleShell> shell = ConsoleShellOf(u))
        group.Text("name", shell->name)
            .Number("shellProcessId", shell->processId)
            .Number("session", shell->session)
            .Flag("companionRunning", shell->companionRunning);
    json.Raw("user", group.Json());
}

} // namespace

std::string FindingLine(const Finding &finding) {
    char head[32];
    std::snprintf(head, sizeof head, "%-4s  %-10s ", VerdictName(finding.verdict),
                  CheckOf(finding.code).c_str());
    std::string line = head + finding.fact;
    if (!finding.advice.empty())
        line += " -> " + finding.advice;
    return line;
}

std::string WatchLine(const WatchChange &change) {
    char line[48];
    std::snprintf(line, sizeof line, "%8.1f s  %s", change.ms / 1000.0,
                  change.pressed ? "pressed" : "released");
    return line;
}

std::vector<Finding> ShowReport(CheckFacts &facts, const ReportSteps &steps,
                                const std::function<void(const std::string &)> &show) {
    std::vector<std::string> shown;
    for (const Finding &finding : Judge(facts)) {
        shown.push_back(FindingLine(finding));
        show(shown.back());
    }
    steps.watch(facts, [&](const WatchChange &change) { show(WatchLine(change)); });
    steps.end(facts);
    const std::vector<Finding> findings = Judge(facts);
    for (const Finding &finding : findings) {
        const std::string line = FindingLine(finding);
        if (std::find(shown.begin(), shown.end(), line) == shown.end())
            show(line);
    }
    return findings;
}

std::string ReportJson(const CheckFacts &f, const std::vector<Finding> &findings) {
    static const char *const kResults[] = {"OK", "WARN", "FAIL"};
    const int exitCode = ExitCode(findings);
    JsonObject json;
    json.Number("schema", kReportSchema)
        .Text("checkVersion", f.header.checkVersion)
        .Text("computerName", f.header.computerName)
        .Text("checkedAt", f.header.checkedAt)
        .Text("serviceVersion", f.header.serviceVersion)
        .Text("driverVersion", f.header.driverVersion)
        .Text("companionVersion", f.header.companionVersion)
        .Text("result", kResults[exitCode])
        .Number("exitCode", static_cast<unsigned>(exitCode))
        .Flag("complete", Complete(findings));
    if (f.windows)
        json.Raw("windows", JsonObject()
                                .Text("version", f.windows->version)
                                .Number("build", f.windows->build)
                                .Flag("x64", f.windows->x64)
                                .Raw("memoryIntegrityConfigured",
                                     Optional(f.windows->memoryIntegrityConfigured))
                                .Json());
    if (f.package)
        json.Raw("package", JsonObject()
                                .Text("productCode", f.package->productCode)
                                .Text("productVersion", f.package->productVersion)
                                .Json());
    if (f.machine)
        json.Raw("machine", JsonObject()
                                .Text("directory", f.machine->directory)
                                .Flag("elevated", f.machine->elevated)
                                .Json());
    if (f.files)
        json.Raw(
            "files",
            JsonObject().Text("driver", f.files->driver).Texts("missing", f.files->missing).Json());
    if (f.protection) {
        std::vector<std::string> exposed;
        for (const ProtectedObject &object : f.protection->objects) {
            std::string accounts;
            for (const std::string &account : object.others)
                accounts += (accounts.empty() ? "" : ", ") + account;
            if (!accounts.empty())
                exposed.push_back(object.path + ": " + accounts);
        }
        json.Raw("protection", JsonObject().Texts("othersMayChange", exposed).Json());
    }
    if (f.service)
        AddService(json, *f.service);
    if (f.board)
        AddBoard(json, *f.board);
    if (f.driver)
        AddDriver(json, *f.driver);
    AddButton(json, f);
    if (f.user)
        AddUser(json, *f.user);

    std::string list;
    for (const Finding &finding : findings)
        list += (list.empty() ? "" : ", ") + JsonObject()
                                                 .Text("check", CheckOf(finding.code))
                                                 .Text("code", finding.code)
                                                 .Text("verdict", VerdictName(finding.verdict))
                                                 .Text("fact", finding.fact)
                                                 .Text("action", finding.advice)
                                                 .Json();
    return json.Raw("findings", "[" + list + "]").Json();
}
