// The build on its worker thread, as the window runs it: progress reports and the completion are
// synchronous sends handled on the window's thread (which frees the archive trees in its
// completion handler while the worker waits), and the cancel flag is raised from other threads.
// Run under ThreadSanitizer (the linux-tsan preset) these must give no reports.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "builder/image_build_job.h"
#include "cli/command_line.h"
#include "demo_fixture.h"
#include "package/patch_package.h"
#include "platform/console.h"
#include "platform/text.h"
#include "resources/messages.h"
#include "support/temp_dir.h"
#include "whole_file.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace tessaly {
namespace {

using test::ReadWholeFile;
using namespace std::chrono_literals;
using test::DemoFixture;

// How long a test waits for the worker before it reports a hang (ThreadSanitizer slows it down).
constexpr auto kPatience = 120s;

// The window side of a build: the worker's reports and its completion are queued for the window's
// thread and the worker waits until they are handled, as a cross-thread SendMessage does.
class WindowBuild : public BuildContext {
public:
    struct Message {
        bool completion = false;
        uint32_t perMille = 0;
        JobResult result = JobResult::Ok;
        int messageId = 0;
        bool handled = false;
    };

    WindowBuild(const DemoFixture& fixture, std::filesystem::path output)
        : m_source(fixture.original), m_output(std::move(output)), m_bytes(ReadWholeFile(fixture.package)) {
        m_package.load(m_bytes.data(), m_bytes.size());
    }

    std::filesystem::path SourcePath() const override { return m_source; }
    std::filesystem::path OutputPath() const override { return m_output; }
    PatchPackage& Package() override { return m_package; }
    std::atomic<bool>& CancelFlag() override { return m_cancel; }
    void ReportProgress(uint32_t perMille) override {
        Message message;
        message.perMille = perMille;
        send(message);
    }
    void BuildComplete(JobResult result, int messageId) override {
        Message message;
        message.completion = true;
        message.result = result;
        message.messageId = messageId;
        send(message);
    }

    // Starts the worker thread with the thread entry.
    void Start() {
        m_worker = std::thread([this] {
            const uint32_t code = BuildThreadProc(this);
            std::lock_guard lock(m_mutex);
            m_exitCode = code;
            m_ended = true;
            m_changed.notify_all();
        });
    }

    // The window's message loop until the worker has ended; `handle` runs on this thread for every
    // message, while the worker waits. Returns false when the worker did not end in time.
    bool PumpUntilEnded(const std::function<void(Message&)>& handle) {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        std::unique_lock lock(m_mutex);
        while (!m_ended) {
            if (!m_changed.wait_until(lock, deadline, [this] { return m_ended || !m_queue.empty(); })) return false;
            while (!m_queue.empty()) {
                Message* message = m_queue.front();
                m_queue.pop_front();
                lock.unlock();
                handle(*message);
                lock.lock();
                message->handled = true;
                m_changed.notify_all();
            }
        }
        lock.unlock();
        m_worker.join();
        return true;
    }

    // What the window's completion handler does with the package before the worker's send returns.
    void ReleaseArchivesAsTheWindowDoes() { m_package.releaseArchives(); }

    bool HoldsArchives() const {
        for (uint32_t i = 1; i <= m_package.entryCount; ++i)
            if (m_package.entries[i].archive) return true;
        return false;
    }

    uint32_t ExitCode() const { return m_exitCode; }

private:
    void send(Message& message) {
        std::unique_lock lock(m_mutex);
        m_queue.push_back(&message);
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return message.handled; });
    }

    std::filesystem::path m_source, m_output;
    std::vector<uint8_t> m_bytes;
    PatchPackage m_package;
    std::atomic<bool> m_cancel{false};
    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Message*> m_queue;
    bool m_ended = false;
    uint32_t m_exitCode = 0;
};

class Threads : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_fixture = new DemoFixture();
        s_fixture->Write();
    }
    static void TearDownTestSuite() {
        delete s_fixture;
        s_fixture = nullptr;
    }
    static DemoFixture* s_fixture;
};
DemoFixture* Threads::s_fixture = nullptr;

TEST_F(Threads, ReportsAndCompletionAreHandedToTheWindowThread) {
    test::TempDir out;
    WindowBuild build(*s_fixture, out / "new.iso");
    const auto windowThread = std::this_thread::get_id();
    std::vector<uint32_t> reports;
    int completions = 0;
    bool heldArchivesAtCompletion = false;
    build.Start();
    ASSERT_TRUE(build.PumpUntilEnded([&](WindowBuild::Message& m) {
        EXPECT_EQ(std::this_thread::get_id(), windowThread);
        if (!m.completion) {
            reports.push_back(m.perMille);
            return;
        }
        ++completions;
        EXPECT_EQ(m.result, JobResult::Ok);
        heldArchivesAtCompletion = build.HoldsArchives();
        build.ReleaseArchivesAsTheWindowDoes();
    }));
    EXPECT_EQ(build.ExitCode(), static_cast<uint32_t>(JobResult::Ok));
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(heldArchivesAtCompletion);
    EXPECT_FALSE(build.HoldsArchives());
    ASSERT_GE(reports.size(), 6u);
    EXPECT_EQ(reports.front(), 0u);
    EXPECT_EQ(reports.back(), 1000u);
    EXPECT_TRUE(ReadWholeFile(out / "new.iso") == ReadWholeFile(s_fixture->expected));
}

// Closing the window during a build: the window thread raises the flag while it handles a report;
// the worker stops at its next test, lowers the flag and sends nothing.
TEST_F(Threads, FlagRaisedByTheWindowThreadStopsTheWorker) {
    // First report, after the source opened, after the layout, mid-writing, after 999, at 1000.
    const uint32_t raiseAt[] = {0, 1, 30, 500, 999, 1000};
    for (const uint32_t at : raiseAt) {
        SCOPED_TRACE("flag raised at report " + std::to_string(at));
        test::TempDir out;
        WindowBuild build(*s_fixture, out / "new.iso");
        int completions = 0;
        bool raised = false;
        build.Start();
        ASSERT_TRUE(build.PumpUntilEnded([&](WindowBuild::Message& m) {
            if (m.completion) {
                ++completions;
                return;
            }
            if (!raised && m.perMille >= at) {
                build.CancelFlag().store(true);
                raised = true;
            }
        }));
        EXPECT_TRUE(raised);
        EXPECT_EQ(build.ExitCode(), static_cast<uint32_t>(JobResult::Cancelled));
        EXPECT_EQ(completions, 0);
        EXPECT_FALSE(build.CancelFlag().load());
        build.ReleaseArchivesAsTheWindowDoes();
    }
}

// A flag raised by a third thread at any moment: either the job saw it (no completion, flag
// lowered, exit 2) or it came too late (one completion, flag still raised, exit 0).
TEST_F(Threads, FlagRaisedFromAnotherThreadAtAnyMomentGivesAConsistentEnding) {
    const std::chrono::milliseconds delays[] = {0ms, 1ms, 5ms, 20ms, 80ms, 300ms};
    for (const auto delay : delays) {
        SCOPED_TRACE("raised after " + std::to_string(delay.count()) + " ms");
        test::TempDir out;
        WindowBuild build(*s_fixture, out / "new.iso");
        int completions = 0;
        build.Start();
        std::thread closer([&] {
            std::this_thread::sleep_for(delay);
            build.CancelFlag().store(true);
        });
        const bool ended = build.PumpUntilEnded([&](WindowBuild::Message& m) {
            if (m.completion) {
                ++completions;
                build.ReleaseArchivesAsTheWindowDoes();
            }
        });
        closer.join();
        ASSERT_TRUE(ended);
        if (build.ExitCode() == static_cast<uint32_t>(JobResult::Cancelled)) {
            EXPECT_EQ(completions, 0);
            EXPECT_FALSE(build.CancelFlag().load());
        } else {
            EXPECT_EQ(build.ExitCode(), static_cast<uint32_t>(JobResult::Ok));
            EXPECT_EQ(completions, 1);
            EXPECT_TRUE(build.CancelFlag().load());
        }
        build.ReleaseArchivesAsTheWindowDoes();
    }
}

// Ctrl-C during `tessaly patch`: the command runs on a thread of its own while this thread sends
// SIGINT until it returns; the interrupt raises the build's flag, the build stops, exit code 2.
TEST(ThreadsCommandLine, InterruptDuringPatchCancelsTheBuild) {
#ifdef _WIN32
    GTEST_SKIP() << "a console Ctrl-C event reaches every process of the console, the test runner too";
#else
    DemoFixture fixture;
    fixture.Write();
    // Signals that arrive before the command installs its own flag land here, not in the default
    // handler that would end the test program.
    std::atomic<bool> early{false};
    InstallInterruptFlag(&early);

    std::ostringstream out, err;
    std::atomic<bool> done{false};
    int code = -1;
    std::thread command([&] {
        const cli::Invocation call{{"--quiet", "--package", PathToUtf8(fixture.package), PathToUtf8(fixture.original),
                                    PathToUtf8(fixture.output)},
                                   out, err};
        code = cli::RunPatch(call);
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!done && std::chrono::steady_clock::now() < deadline) {
        kill(getpid(), SIGINT);
        std::this_thread::sleep_for(2ms);
    }
    command.join();
    InstallInterruptFlag(nullptr);
    std::this_thread::sleep_for(100ms);  // a signal still on its way finds the harmless handler
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);

    EXPECT_EQ(code, 2) << out.str() << err.str();
    EXPECT_NE(out.str().find(MessageUtf8(164)), std::string::npos) << out.str();
#endif
}

}  // namespace
}  // namespace tessaly
