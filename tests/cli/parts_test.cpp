// Runs split into parts composed side by side give the picture of one pass, for clips
// with keyframes everywhere, every twelfth frame, or only at the start.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTemporaryDir>
#include <memory>

#include "run.h"
#include "reference_composite.h"

namespace tambrel::compose_cli::testing {
namespace {

class GuiEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { app_ = std::make_unique<QGuiApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[8] = "test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QGuiApplication> app_;
};
::testing::Environment* const gui_environment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

compose::Composite composed(const ComposeOptions& options, int max_parts) {
    auto result = compose(options, {}, compose::RunLimits{max_parts});
    if (const auto* f = std::get_if<RunFailure>(&result)) {
        ADD_FAILURE() << f->message;
        return {};
    }
    return std::get<compose::Composite>(result);
}

class ComposeInParts : public ::testing::Test {
  protected:
    // A small pendulum: its period is no whole number of frames, so no two frames show
    // the bob in the same place and a frame left out or merged twice shows. 160 x 120:
    // MPEG-4 at 96 x 72 comes out of the media service damaged (its packed-B-frame
    // filter garbles that stream), whatever the split.
    clipgen::ClipOptions clip(clipgen::Codec codec, int gop, int frames = 100) {
        clipgen::ClipOptions o = raw_clip(dir_.filePath("clip.avi"), frames, 160, 120);
        o.motion = clipgen::Motion::Pendulum;
        o.pendulum_length_m = 0.5;
        o.pixels_per_metre = 150;
        o.amplitude_deg = 35;
        o.codec = codec;
        o.keyframe_interval = gop;
        EXPECT_EQ(clipgen::write_clip(o), std::nullopt);
        return o;
    }
    QTemporaryDir dir_;
};

TEST_F(ComposeInParts, RawClipInThreePartsIsTheFramesMergedInOrder) {
    const clipgen::ClipOptions c = clip(clipgen::Codec::RawBgr24, 1);
    const QSize whole(c.width, c.height);
    for (const auto& [priority, white] :
         {std::pair{Priority::White, true}, std::pair{Priority::Black, false}}) {
        ComposeOptions o;
        o.clip = c.path;
        o.priority = priority;
        const compose::Composite parts = composed(o, 3);
        EXPECT_EQ(parts.parts, 3);
        EXPECT_EQ(difference(parts.image, fold_frames(rendered_frames(c, 0, 1, 100), white, whole)),
                  "");
        o.start = 5;
        o.step = 2;
        o.count = 60;
        const compose::Composite stepped = composed(o, 2);
        EXPECT_EQ(stepped.parts, 2);
        EXPECT_EQ(
            difference(stepped.image, fold_frames(rendered_frames(c, 5, 2, 60), white, whole)), "");
    }
}

TEST_F(ComposeInParts, CompressedClipGivesTheSamePictureInPartsAsInOnePass) {
    const clipgen::ClipOptions c = clip(clipgen::Codec::Mpeg4, 12);
    for (bool as_shown : {false, true}) {
        for (Priority priority : {Priority::White, Priority::Black}) {
            ComposeOptions o;
            o.clip = c.path;
            o.priority = priority;
            o.as_shown = as_shown;
            o.start = 3;
            const compose::Composite one = composed(o, 1);
            const compose::Composite three = composed(o, 3);
            EXPECT_EQ(one.parts, 1);
            EXPECT_EQ(three.parts, 3);
            EXPECT_EQ(difference(three.image, one.image), "") << "as shown: " << as_shown;
        }
    }
}

TEST_F(ComposeInParts, ClipWithOneKeyframeIsComposedInOnePass) {
    // Every part would have to decode from the first frame: no gain, so no parts.
    const clipgen::ClipOptions c = clip(clipgen::Codec::Mpeg4, 1000);
    ComposeOptions o;
    o.clip = c.path;
    const compose::Composite result = composed(o, 4);
    EXPECT_EQ(result.parts, 1);
    o.count = 10;
    EXPECT_EQ(composed(o, 4).parts, 1);  // too short to split anyway
}

}  // namespace
}  // namespace tambrel::compose_cli::testing
