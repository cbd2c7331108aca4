#pragma once
// What every command gets: its arguments (UTF-8), and where to print.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace tessaly::cli {

struct Invocation {
    std::vector<std::string> args;  // after the command's name
    std::ostream& out;
    std::ostream& err;
};

// A small option scanner: flags and "--name VALUE" options anywhere, the rest positional.
class ArgumentScanner {
public:
    explicit ArgumentScanner(const std::vector<std::string>& args) : m_args(args), m_used(args.size(), false) {}

    bool flag(const char* longName, const char* shortName = nullptr);
    // The value after --name (or --name=VALUE); nullopt when absent. `missingValue` is set when
    // the option is present without a value.
    std::optional<std::string> value(const char* longName, const char* shortName = nullptr);
    std::optional<uint64_t> number(const char* longName, bool& bad);
    // Unused arguments: an option-like one is unknown; the rest are positional.
    std::vector<std::string> positional(std::string& unknownOption) const;
    bool missingValue() const { return m_missingValue; }

private:
    const std::vector<std::string>& m_args;
    std::vector<bool> m_used;
    bool m_missingValue = false;
};

// Prints "usage: ..." and returns kExitUsage.
int UsageError(const Invocation& call, const char* usage, const std::string& problem);

// The commands.
int RunIdentify(const Invocation& call);
int RunPackageInfo(const Invocation& call);
int RunArchiveList(const Invocation& call);
int RunPatch(const Invocation& call);
int RunMakePackage(const Invocation& call);
int RunVerify(const Invocation& call);

}  // namespace tessaly::cli
