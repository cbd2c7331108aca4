#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "archive/archive_node.h"
#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "platform/text.h"

namespace tessaly::cli {

namespace {
constexpr const char* kUsage = "tessaly archive-list FILE [--offset N] [--size N]";
constexpr const char* kHelp =
    "tessaly archive-list FILE [--offset N] [--size N]\n\n"
    "Lists a GPDA resource archive as a tree, to find the member paths that archive patch\n"
    "records address. FILE is the archive itself, or a disc image with --offset and --size\n"
    "giving the archive's byte range (decimal, or hex with 0x). Without --size the archive\n"
    "runs to the end of FILE.\n\n"
    "Each line gives a member's index path (3/1/7: member 7 of member 1 of member 3 of the\n"
    "archive, the indices a patch record lists), its offset within its own archive, its size,\n"
    "its kind (archive, leaf, or invalid for a nested archive with a structural error) and its\n"
    "name. Name bytes outside printable ASCII are shown as \\xNN.\n\n"
    "exit codes: 0 the archive opened; 1 it did not (cannot be read, offset past the end of\n"
    "FILE, structural error); 64 usage error\n";

constexpr int kExitArchiveNotOpened = 1;

struct Row {
    std::string path;
    const ArchiveNode* node;
};

void CollectRows(const ArchiveNode& node, const std::string& path, std::vector<Row>& rows) {
    rows.push_back({path.empty() ? "(root)" : path, &node});
    if (!node.IsArchive()) return;
    for (uint32_t k = 1; k <= node.memberCount; ++k)
        CollectRows(*node.Child(k), path.empty() ? std::to_string(k) : path + "/" + std::to_string(k), rows);
}

const char* KindOf(const ArchiveNode& node) {
    if (!node.valid) return "invalid";
    return node.IsArchive() ? "archive" : "leaf";
}

// Names come from the game and may be in any encoding; keep the terminal safe.
std::string PrintableName(const std::string& name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

std::string Padded(const std::string& text, size_t width, bool right) {
    if (text.size() >= width) return text;
    const std::string fill(width - text.size(), ' ');
    return right ? fill + text : text + fill;
}

// Why the root did not open, with the values seen.
std::string OpenFailure(const std::filesystem::path& file, const std::string& shown, uint64_t offset) {
    std::ifstream probe(file, std::ios::binary | std::ios::ate);
    if (!probe.is_open()) return "cannot open '" + shown + "'";
    const auto length = static_cast<int64_t>(probe.tellg());
    if (length >= 0 && offset > static_cast<uint64_t>(length))
        return "offset " + std::to_string(offset) + " lies past the end of '" + shown + "' (" +
               std::to_string(length) + " bytes)";
    return "the GPDA archive at offset " + std::to_string(offset) + " of '" + shown +
           "' has a structural error (a member, the member table or a name record outside its bounds)";
}
}  // namespace

int RunArchiveList(const Invocation& call) {
    ArgumentScanner scan(call.args);
    if (scan.flag("--help", "-h")) {
        call.out << kHelp;
        return kExitOk;
    }
    bool badOffset = false;
    bool badSize = false;
    const auto offset = scan.number("--offset", badOffset);
    const auto size = scan.number("--size", badSize);
    if (scan.missingValue()) return UsageError(call, kUsage, "--offset and --size need a value");
    constexpr uint64_t kLimit = std::numeric_limits<uint32_t>::max();
    if (badOffset || (offset && *offset > kLimit))
        return UsageError(call, kUsage, "--offset needs a number from 0 to 4294967295");
    if (badSize || (size && *size > kLimit))
        return UsageError(call, kUsage, "--size needs a number from 0 to 4294967295");
    std::string unknown;
    const auto rest = scan.positional(unknown);
    if (!unknown.empty()) return UsageError(call, kUsage, "unknown option '" + unknown + "'");
    if (rest.size() != 1) return UsageError(call, kUsage, "expected one FILE");

    const std::filesystem::path file = PathFromUtf8(rest[0]);
    const auto start = static_cast<uint32_t>(offset.value_or(0));
    // Without --size, the largest size: the open cuts it to the end of the file.
    const auto length = static_cast<uint32_t>(size.value_or(kLimit));
    ArchiveNode root(file, start, length);
    if (!root.valid) {
        call.err << "tessaly: " << OpenFailure(file, rest[0], start) << "\n";
        return kExitArchiveNotOpened;
    }

    std::vector<Row> rows;
    CollectRows(root, "", rows);
    size_t pathWidth = 4;
    for (const Row& row : rows) pathWidth = std::max(pathWidth, row.path.size());
    call.out << Padded("path", pathWidth, false) << "  " << Padded("offset", 10, true) << "  "
             << Padded("size", 10, true) << "  " << Padded("kind", 7, false) << "  name\n";
    uint64_t archives = 0, leaves = 0, invalid = 0;
    for (const Row& row : rows) {
        const ArchiveNode& node = *row.node;
        call.out << Padded(row.path, pathWidth, false) << "  " << Padded(std::to_string(node.offset), 10, true)
                 << "  " << Padded(std::to_string(node.size), 10, true) << "  " << Padded(KindOf(node), 7, false)
                 << "  " << PrintableName(node.name) << "\n";
        if (!node.valid)
            ++invalid;
        else if (node.IsArchive())
            ++archives;
        else
            ++leaves;
    }
    call.out << archives << " archives, " << leaves << " leaves, " << invalid << " invalid\n";
    if (!root.IsArchive())
        call.out << "note: the bytes at offset " << start << " are not a GPDA archive; they form one leaf\n";
    return kExitOk;
}

}  // namespace tessaly::cli
