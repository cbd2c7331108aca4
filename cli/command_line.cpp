#include "cli/command_line.h"

#include <charconv>
#include <ostream>

#include "cli/exit_codes.h"

namespace tessaly::cli {

bool ArgumentScanner::flag(const char* longName, const char* shortName) {
    bool seen = false;
    for (size_t i = 0; i < m_args.size(); ++i) {
        if (m_used[i]) continue;
        if (m_args[i] == longName || (shortName != nullptr && m_args[i] == shortName)) {
            m_used[i] = true;
            seen = true;
        }
    }
    return seen;
}

std::optional<std::string> ArgumentScanner::value(const char* longName, const char* shortName) {
    const std::string withEquals = std::string(longName) + "=";
    for (size_t i = 0; i < m_args.size(); ++i) {
        if (m_used[i]) continue;
        if (m_args[i].rfind(withEquals, 0) == 0) {
            m_used[i] = true;
            return m_args[i].substr(withEquals.size());
        }
        if (m_args[i] == longName || (shortName != nullptr && m_args[i] == shortName)) {
            m_used[i] = true;
            if (i + 1 >= m_args.size()) {
                m_missingValue = true;
                return std::nullopt;
            }
            m_used[i + 1] = true;
            return m_args[i + 1];
        }
    }
    return std::nullopt;
}

std::optional<uint64_t> ArgumentScanner::number(const char* longName, bool& bad) {
    const auto text = value(longName);
    if (!text) return std::nullopt;
    uint64_t parsed = 0;
    int base = 10;
    std::string_view digits = *text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed, base);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
        bad = true;
        return std::nullopt;
    }
    return parsed;
}

std::vector<std::string> ArgumentScanner::positional(std::string& unknownOption) const {
    std::vector<std::string> rest;
    bool afterDashes = false;
    for (size_t i = 0; i < m_args.size(); ++i) {
        if (m_used[i]) continue;
        if (!afterDashes && m_args[i] == "--") {
            afterDashes = true;
            continue;
        }
        if (!afterDashes && m_args[i].size() > 1 && m_args[i][0] == '-') {
            if (unknownOption.empty()) unknownOption = m_args[i];
            continue;
        }
        rest.push_back(m_args[i]);
    }
    return rest;
}

int UsageError(const Invocation& call, const char* usage, const std::string& problem) {
    if (!problem.empty()) call.err << "tessaly: " << problem << "\n";
    call.err << "usage: " << usage << "\n";
    return kExitUsage;
}

}  // namespace tessaly::cli
