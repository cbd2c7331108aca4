#include "ui/message_catalogue.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace tessaly {

namespace {

class SlotRing {
public:
    wchar_t* Take() {
        // slot := counter, or 0 once it has reached the last slot; counter := slot + 1. The
        // compare-exchange makes the take atomic: two threads never receive the same slot.
        unsigned current = m_counter.load(std::memory_order_relaxed);
        unsigned slot = 0;
        do {
            slot = current >= kCatalogueSlots ? 0 : current;
        } while (!m_counter.compare_exchange_weak(current, slot + 1, std::memory_order_acq_rel,
                                                  std::memory_order_relaxed));
        return m_slots[slot];
    }

private:
    wchar_t m_slots[kCatalogueSlots][kCatalogueTextLength + 1] = {};
    std::atomic<unsigned> m_counter{0};
};

SlotRing s_windowRing;
SlotRing s_workerRing;
std::atomic<std::thread::id> s_windowThread{};
std::atomic<MessageCatalogue::TextSource> s_textSource{&MessageCatalogue::DefaultTextSource};

SlotRing& RingOfThisThread() {
    const std::thread::id window = s_windowThread.load(std::memory_order_acquire);
    if (window == std::thread::id() || window == std::this_thread::get_id()) return s_windowRing;
    return s_workerRing;
}

}  // namespace

wchar_t* MessageCatalogue::NextSlot() { return RingOfThisThread().Take(); }

wchar_t* MessageCatalogue::Load(int id) {
    wchar_t* slot = NextSlot();
    const std::wstring_view text = s_textSource.load(std::memory_order_acquire)(id);
    const size_t length = std::min<size_t>(text.size(), kCatalogueTextLength - 1);
    std::copy_n(text.data(), length, slot);
    slot[length] = L'\0';
    return slot;
}

void MessageCatalogue::SetWindowThread() {
    s_windowThread.store(std::this_thread::get_id(), std::memory_order_release);
}

MessageCatalogue::TextSource MessageCatalogue::SetTextSource(TextSource source) {
    return s_textSource.exchange(source, std::memory_order_acq_rel);
}

}  // namespace tessaly
