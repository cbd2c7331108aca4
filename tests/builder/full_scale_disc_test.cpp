// The full-scale demo disc that bench/full-image builds: the real disc's stated facts, and its
// composed archive reading the same whatever the piece boundaries.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tools/demo/demo_disc.h"

namespace tessaly {
namespace {

const demo::DemoDisc& fullScaleDisc() {
    static const demo::DemoDisc disc = [] {
        demo::DemoOptions options;
        options.fullScale = true;
        return demo::MakeDemoDisc(options);
    }();
    return disc;
}

TEST(FullScaleDisc, HasEveryStatedFactOfTheRealDisc) {
    EXPECT_NO_THROW(demo::CheckFullScaleFacts(fullScaleDisc()));
    // And the check does catch a disc that is one sector off.
    demo::DemoDisc shifted = fullScaleDisc();
    shifted.files.at(1).translated = demo::Contents::Pattern(5, shifted.files.at(1).translated.size + 2048);
    EXPECT_THROW(demo::CheckFullScaleFacts(shifted), std::logic_error);
}

// Windows across header copies, members, held replacement bytes and the zero gaps between them,
// read at once and in odd pieces.
TEST(FullScaleDisc, ComposedArchiveReadsTheSameInAnyPieces) {
    const demo::DemoFile& archive = fullScaleDisc().files.at(9);
    ASSERT_EQ(archive.path, "/PSP_GAME/INSDIR/RES.DAT");
    for (const demo::Contents* contents : {&archive.original, &archive.translated}) {
        ASSERT_TRUE(contents->segments);
        for (const uint64_t at : {uint64_t{0}, uint64_t{2047}, uint64_t{contents->size} / 3, uint64_t{contents->size} - 70000}) {
            const uint32_t length = 70000;
            std::vector<uint8_t> whole(length);
            contents->Read(at, whole.data(), length);
            std::vector<uint8_t> pieces(length);
            for (uint32_t done = 0; done < length;) {
                const uint32_t n = std::min<uint32_t>(997, length - done);
                contents->Read(at + done, pieces.data() + done, n);
                done += n;
            }
            EXPECT_TRUE(whole == pieces) << "at " << at;
            EXPECT_TRUE(std::any_of(whole.begin(), whole.end(), [](uint8_t b) { return b != 0; })) << "at " << at;
        }
    }
}

}  // namespace
}  // namespace tessaly
