#pragma once
// The record that the stub companion WGB.exe appends, once per start, to
// "WGB.starts.txt" in its own directory; tests read it back.
//
// One record per line, ended by "\n". Fields are key=value, separated by one
// tab. Values keep their 8-bit text as is, except that '%', tab, CR and LF
// are written as %25, %09, %0D and %0A, so a value never holds a separator.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace companion_record {

constexpr const char *kRecordFileName = "WGB.starts.txt";
// While this file exists beside the companion, the companion keeps running.
constexpr const char *kStayFileName = "WGB.stay";

// Keys, in the order the companion writes them.
constexpr const char *kPid = "pid";             // process id, decimal
constexpr const char *kParentPid = "ppid";      // parent's process id, decimal (0: unknown)
constexpr const char *kTime = "time";           // start time, 100 ns since 1601, decimal
constexpr const char *kExe = "exe";             // full path of the running executable
constexpr const char *kCommandLine = "cmdline"; // GetCommandLineA, whole
constexpr const char *kArgc = "argc";           // arguments as CommandLineToArgvW splits them
constexpr const char *kArgvPrefix = "argv";     // argv0, argv1, ... argv<argc-1>
constexpr const char *kUser = "user";           // GetUserNameA
constexpr const char *kSession = "session";     // ProcessIdToSessionId, decimal
constexpr const char *kWindowStation = "winsta";
constexpr const char *kDesktop = "desktop";
constexpr const char *kCurrentDir = "cwd";
constexpr const char *kStaying = "stay";   // "1" when it stays running, else "0"
constexpr const char *kEnvPrefix = "env."; // env.NAME, only for variables that are set

constexpr const char *kEnvironmentNames[] = {"USERPROFILE", "USERNAME", "WGB_USER_VAR", "TEMP"};

using Record = std::map<std::string, std::string>;

inline std::string EncodeValue(const std::string &value) {
    std::string out;
    for (char c : value) {
        switch (c) {
        case '%':
            out += "%25";
            break;
        case '\t':
            out += "%09";
            break;
        case '\r':
            out += "%0D";
            break;
        case '\n':
            out += "%0A";
            break;
        default:
            out += c;
        }
    }
    return out;
}

inline int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

inline std::string DecodeValue(const std::string &value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        int hi = -1, lo = -1;
        if (value[i] == '%' && i + 2 < value.size()) {
            hi = HexDigit(value[i + 1]);
            lo = HexDigit(value[i + 2]);
        }
        if (hi >= 0 && lo >= 0) {
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

// Appends "key=value" to a record line, with a tab before every field but the first.
inline void AppendField(std::string &line, const std::string &key, const std::string &value) {
    if (!line.empty())
        line += '\t';
    line += key;
    line += '=';
    line += EncodeValue(value);
}

inline Record ParseLine(const std::string &line) {
    Record record;
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t end = line.find('\t', start);
        if (end == std::string::npos)
            end = line.size();
        std::string field = line.substr(start, end - start);
        std::size_t eq = field.find('=');
        if (eq != std::string::npos)
            record[field.substr(0, eq)] = DecodeValue(field.substr(eq + 1));
        start = end + 1;
    }
    return record;
}

// The records of a file's text; a last line without "\n" is still being
// written and is left out.
inline std::vector<Record> ParseRecords(const std::string &text) {
    std::vector<Record> records;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            records.push_back(ParseLine(line));
    }
    return records;
}

} // namespace companion_record
