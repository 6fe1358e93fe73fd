#pragma once
// The record that the stub companion WGB.exe appends, once per start, to
// "WGB.starts.txt" in its own directory, and how a program reads it back.
//
// One record per line, ended by "\n": fields key=value separated by tabs.
// The companion writes a tab, CR or LF inside a value as a blank.

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace companion_record {

constexpr const char *kRecordFileName = "WGB.starts.txt";
// While this file exists beside the companion, the companion keeps running.
constexpr const char *kStayFileName = "WGB.stay";

constexpr const char *kPid = "pid";             // process id, decimal
constexpr const char *kTime = "time";           // start time, 100 ns since 1601, decimal
constexpr const char *kCommandLine = "cmdline"; // GetCommandLineA, whole
constexpr const char *kUser = "user";           // GetUserNameA
constexpr const char *kUserSid = "usersid";     // its token's user, as an SID string
// Its token's enabled privileges, each name followed by a blank.
constexpr const char *kPrivileges = "privileges";
constexpr const char *kSession = "session"; // ProcessIdToSessionId, decimal
constexpr const char *kWindowStation = "winsta";
constexpr const char *kDesktop = "desktop";
// "env.NAME": the variable's value, for those set of these.
constexpr const char *kEnvironmentNames[] = {"USERPROFILE", "WGB_USER_VAR"};

using Record = std::map<std::string, std::string>;

// Every complete record of the file in dir (ending in a backslash), oldest
// first; a last line without "\n" is still being written and is left out.
inline std::vector<Record> ReadRecords(const std::string &dir) {
    std::ifstream in(dir + kRecordFileName, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<Record> records;
    std::istringstream lines(text.str());
    for (std::string line; std::getline(lines, line) && !lines.eof();) {
        Record record;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');)
            if (field.find('=') != std::string::npos)
                record[field.substr(0, field.find('='))] = field.substr(field.find('=') + 1);
        records.push_back(record);
    }
    return records;
}

} // namespace companion_record
