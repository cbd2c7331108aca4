#include "ui/message_catalogue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tessaly {
namespace {

// Texts that name their ID, so every slot's contents can be checked.
std::wstring_view NumberedText(int id) {
    static const auto texts = [] {
        std::vector<std::wstring> all;
        for (int i = 0; i < 1000; ++i) all.push_back(L"text " + std::to_wstring(i));
        return all;
    }();
    if (id < 0 || id >= 1000) return {};
    return texts[static_cast<size_t>(id)];
}

std::wstring_view LongText(int id) {
    static const std::wstring text600(600, L'x');
    static const std::wstring text512(512, L'y');
    static const std::wstring text511(511, L'z');
    switch (id) {
        case 600: return text600;
        case 512: return text512;
        case 511: return text511;
        default: return {};
    }
}

class MessageCatalogueTest : public ::testing::Test {
protected:
    void SetUp() override { m_previous = MessageCatalogue::SetTextSource(&NumberedText); }
    void TearDown() override { MessageCatalogue::SetTextSource(m_previous); }

private:
    MessageCatalogue::TextSource m_previous = nullptr;
};

TEST_F(MessageCatalogueTest, SixthLoadReusesAndOverwritesTheFirstSlot) {
    std::vector<wchar_t*> slots;
    for (int id = 133; id <= 138; ++id) slots.push_back(MessageCatalogue::Load(id));
    EXPECT_EQ(std::set<wchar_t*>(slots.begin(), slots.begin() + 5).size(), 5u);
    EXPECT_EQ(slots[5], slots[0]);
    EXPECT_EQ(std::wstring(slots[0]), L"text 138");
    for (int i = 1; i < 5; ++i) EXPECT_EQ(std::wstring(slots[i]), L"text " + std::to_wstring(133 + i));
}

TEST_F(MessageCatalogueTest, ScratchSlotsTakeTurnsWithLoadedTexts) {
    wchar_t* first = MessageCatalogue::Load(140);
    std::set<wchar_t*> scratch;
    for (int i = 0; i < 4; ++i) {
        wchar_t* slot = MessageCatalogue::NextSlot();
        slot[kCatalogueTextLength] = L'\0';  // the whole slot is usable
        scratch.insert(slot);
    }
    EXPECT_EQ(scratch.size(), 4u);
    EXPECT_EQ(scratch.count(first), 0u);
    EXPECT_EQ(std::wstring(first), L"text 140");
    EXPECT_EQ(MessageCatalogue::Load(141), first);
}

TEST_F(MessageCatalogueTest, UnknownIdGivesAnEmptyText) {
    EXPECT_EQ(std::wstring(MessageCatalogue::Load(5000)), L"");
}

TEST(MessageCatalogueLength, CutsLongTextsTo511Characters) {
    const auto previous = MessageCatalogue::SetTextSource(&LongText);
    EXPECT_EQ(std::wstring(MessageCatalogue::Load(600)), std::wstring(511, L'x'));
    EXPECT_EQ(std::wstring(MessageCatalogue::Load(512)), std::wstring(511, L'y'));
    EXPECT_EQ(std::wstring(MessageCatalogue::Load(511)), std::wstring(511, L'z'));
    MessageCatalogue::SetTextSource(previous);
}

#ifndef _WIN32
// Where there are no string resources the texts come from the table they are generated from.
TEST(MessageCatalogueBuiltIn, LoadsTheTableTexts) {
    EXPECT_EQ(std::wstring(MessageCatalogue::Load(133)), L"《Quillmoor 2》DISC1 - 汉化补丁");
    EXPECT_EQ(std::wstring(MessageCatalogue::Load(146)), L"这是《Quillmoor 2》DISC2的镜像！\n\n请拖放DISC1的镜像。");
    EXPECT_EQ(std::wstring(MessageCatalogue::Load(156)), L"已完成 - %2.1f%%");
    EXPECT_EQ(std::wstring(MessageCatalogue::Load(165)), L"生成ISO时出错！");
    EXPECT_EQ(std::wstring(MessageCatalogue::Load(132)), L"");
    EXPECT_EQ(std::wstring(MessageCatalogue::Load(166)), L"");
}
#endif

// The window thread holds five texts (all its slots) while a worker loads progress captions as
// fast as it can: none of the window's texts may change, and the worker never gets one of its slots.
TEST_F(MessageCatalogueTest, WorkerNeverOverwritesTheWindowThreadsTexts) {
    MessageCatalogue::SetWindowThread();
    std::vector<wchar_t*> held;
    for (int id = 133; id < 138; ++id) held.push_back(MessageCatalogue::Load(id));
    const std::set<wchar_t*> windowSlots(held.begin(), held.end());

    std::atomic<bool> stop{false};
    std::atomic<int> workerLoads{0};
    std::atomic<int> workerSlotClashes{0};
    std::atomic<int> workerBadTexts{0};
    std::thread worker([&] {
        while (!stop.load() || workerLoads.load() < 20000) {
            const int id = workerLoads.load() % 2 == 0 ? 156 : 157;
            wchar_t* text = MessageCatalogue::Load(id);
            if (windowSlots.count(text) != 0) ++workerSlotClashes;
            if (std::wstring(text) != L"text " + std::to_wstring(id)) ++workerBadTexts;
            ++workerLoads;
        }
    });

    // The worker runs until `stop`, so the window thread's checks overlap its loads even when the
    // scheduler lets it run its 20,000 loads first.
    int windowChecks = 0;
    while (workerLoads.load() < 20000 || windowChecks < 100) {
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(std::wstring(held[static_cast<size_t>(i)]), L"text " + std::to_wstring(133 + i));
        }
        ++windowChecks;
    }
    stop = true;
    worker.join();

    for (int i = 0; i < 5; ++i) EXPECT_EQ(std::wstring(held[static_cast<size_t>(i)]), L"text " + std::to_wstring(133 + i));
    EXPECT_EQ(workerSlotClashes.load(), 0);
    EXPECT_EQ(workerBadTexts.load(), 0);
    // The window thread's own rotation goes on where it left off: the next take reuses its first slot.
    EXPECT_EQ(MessageCatalogue::Load(138), held[0]);
}

}  // namespace
}  // namespace tessaly
