#pragma once
// Member index paths (1-based, as archive patch records give them) in the generators' archive
// models: any tree whose nodes have `isArchive` and a vector `members`.

#include <cstdint>
#include <vector>

namespace tessaly::demo {

// The paths of every leaf at depths 2 to 5, the depths the replacement records reach.
template <typename Tree>
void CollectReplaceableLeaves(const Tree& archive, std::vector<uint32_t>& path, std::vector<std::vector<uint32_t>>& out) {
    for (uint32_t k = 1; k <= archive.members.size(); ++k) {
        path.push_back(k);
        const Tree& m = archive.members[k - 1];
        if (m.isArchive) CollectReplaceableLeaves(m, path, out);
        else if (path.size() >= 2 && path.size() <= 5) out.push_back(path);
        path.pop_back();
    }
}

template <typename Tree>
Tree& MemberAt(Tree& root, const std::vector<uint32_t>& path) {
    Tree* m = &root;
    for (uint32_t index : path) m = &m->members.at(index - 1);
    return *m;
}

}  // namespace tessaly::demo
