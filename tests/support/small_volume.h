#pragma once
// A 4 MiB tmpfs mounted for the length of a test: a volume too small for any image. Linux, as
// root only; WhyNot() says why there is none, for the test to skip with.

#include <filesystem>
#include <string>
#include <utility>

#ifndef _WIN32
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace tessaly::test {

class SmallVolume {
public:
    explicit SmallVolume(std::filesystem::path at) : m_at(std::move(at)) {
#ifdef _WIN32
        m_whyNot = "a small volume is made by mounting a tmpfs, on Linux only";
#else
        if (geteuid() != 0) {
            m_whyNot = "mounting a small tmpfs needs root";
            return;
        }
        std::filesystem::create_directory(m_at);
        if (mount("tessaly-test", m_at.c_str(), "tmpfs", 0, "size=4m") != 0) m_whyNot = "cannot mount a tmpfs here";
#endif
    }
    ~SmallVolume() {
#ifndef _WIN32
        if (m_whyNot.empty()) umount(m_at.c_str());
#endif
    }
    SmallVolume(const SmallVolume&) = delete;
    SmallVolume& operator=(const SmallVolume&) = delete;

    const std::string& WhyNot() const { return m_whyNot; }
    const std::filesystem::path& Path() const { return m_at; }

private:
    std::filesystem::path m_at;
    std::string m_whyNot;
};

}  // namespace tessaly::test
