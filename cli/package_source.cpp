#include "cli/package_source.h"

#include <fstream>

#include "cli/exit_codes.h"
#include "platform/text.h"
#include "resources/embedded_package.h"
#include "resources/messages.h"

namespace tessaly::cli {

bool PackageSource::Load(const std::optional<std::string>& file, std::string& problem) {
    if (!file) {
        m_bytes = EmbeddedPackageBytes();
        m_size = EmbeddedPackageSize();
        m_description = "embedded package";
        return true;
    }
    std::ifstream in(PathFromUtf8(*file), std::ios::binary | std::ios::ate);
    if (!in) {
        problem = "cannot open package '" + *file + "'";
        return false;
    }
    const std::streamoff length = in.tellg();
    in.seekg(0);
    m_fileBytes.resize(static_cast<size_t>(length));
    if (length > 0 && !in.read(reinterpret_cast<char*>(m_fileBytes.data()), length)) {
        problem = "cannot read package '" + *file + "'";
        return false;
    }
    m_bytes = m_fileBytes.data();
    m_size = m_fileBytes.size();
    m_description = *file;
    return true;
}

std::optional<int> LoadCommandPackage(const Invocation& call, const std::optional<std::string>& file,
                                      PackageSource& source, PatchPackage& package) {
    std::string problem;
    if (!source.Load(file, problem)) {
        call.err << "tessaly: " << problem << "\n";
        return kExitUsage;
    }
    package.load(source.Bytes(), source.Size());
    if (package.corrupt) {
        call.out << MessageUtf8(138) << "\n";
        return kExitPackageCorrupt;
    }
    return std::nullopt;
}

}  // namespace tessaly::cli
