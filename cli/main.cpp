// tessaly: the command-line patcher and the translators' tools, over the same core as the window.

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "platform/console.h"
#include "platform/text.h"

namespace tessaly::cli {
namespace {

struct Command {
    const char* name;
    int (*run)(const Invocation&);
    const char* summary;
};

constexpr Command kCommands[] = {
    {"identify", RunIdentify, "tell which disc an image is"},
    {"patch", RunPatch, "build the translated image from a source image"},
    {"make-package", RunMakePackage, "make a patch package from an original and a translated image"},
    {"verify", RunVerify, "check a translated image against the patch package"},
    {"package-info", RunPackageInfo, "show the contents of a patch package"},
    {"archive-list", RunArchiveList, "list the member tree of a GPDA archive"},
};

void printOverview(std::ostream& out) {
    out << "tessaly - translation patcher for the game's first UMD disc\n\n"
           "usage: tessaly COMMAND [OPTIONS] [ARGUMENTS]\n\ncommands:\n";
    for (const Command& c : kCommands) {
        std::string name = c.name;
        name.resize(14, ' ');
        out << "  " << name << c.summary << "\n";
    }
    out << "\n'tessaly COMMAND --help' explains a command.\n";
}

int dispatch(const std::vector<std::string>& args) {
    if (args.empty()) {
        printOverview(std::cerr);
        return kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printOverview(std::cout);
        return kExitOk;
    }
    for (const Command& c : kCommands) {
        if (args[0] == c.name) {
            Invocation call{std::vector<std::string>(args.begin() + 1, args.end()), std::cout, std::cerr};
            const int code = c.run(call);
            std::cout.flush();
            return code;
        }
    }
    std::cerr << "tessaly: unknown command '" << args[0] << "'\n";
    std::cerr << "usage: tessaly COMMAND [OPTIONS] [ARGUMENTS]   (tessaly --help lists the commands)\n";
    return kExitUsage;
}

}  // namespace
}  // namespace tessaly::cli

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    tessaly::PrepareConsole();
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(tessaly::Utf8FromWide(argv[i]));
    return tessaly::cli::dispatch(args);
}
#else
int main(int argc, char** argv) {
    tessaly::PrepareConsole();
    return tessaly::cli::dispatch(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
