// The composition engine on explicit plans and tambrel-compose's runs: runs split into
// parts composed side by side give the picture of one pass, for clips with keyframes
// everywhere, every twelfth frame, or only at the start, and under every priority; a
// plan's own priorities per frame; damaged frames left out or ending a strict run.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTemporaryDir>
#include <memory>
#include <set>

#include "reference_composite.h"
#include "robustness/avi_bytes.h"
#include "run.h"

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
        for (Priority priority : {Priority::White, Priority::Black, Priority::Difference}) {
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

std::unique_ptr<compose::ClipComposer> open_clip(const std::string& path) {
    auto opened = compose::ClipComposer::open(path);
    if (const auto* f = std::get_if<compose::CompositionFailure>(&opened)) {
        ADD_FAILURE() << f->message;
        return nullptr;
    }
    return std::move(std::get<std::unique_ptr<compose::ClipComposer>>(opened));
}

std::variant<compose::Composite, compose::CompositionFailure> run_plan(
    compose::ClipComposer& clip, const compose::CompositionPlan& plan, int max_parts,
    std::vector<compose::SkippedFrame>* skipped = nullptr) {
    compose::Callbacks callbacks;
    if (skipped)
        callbacks.skipped = [skipped](const compose::SkippedFrame& s) { skipped->push_back(s); };
    return clip.compose(plan, callbacks, compose::RunLimits{max_parts});
}

compose::Composite picture_of(
    const std::variant<compose::Composite, compose::CompositionFailure>& result) {
    if (const auto* f = std::get_if<compose::CompositionFailure>(&result)) {
        ADD_FAILURE() << f->message;
        return {};
    }
    return std::get<compose::Composite>(result);
}

TEST_F(ComposeInParts, APlanMergesEachFrameWithItsOwnPriority) {
    // As a window records a run: every other frame from 4, white priority, black for five
    // merges (which wipe the trail out), white again, and one frame twice (a step that met
    // the clip's end).
    const clipgen::ClipOptions c = clip(clipgen::Codec::RawBgr24, 1, 150);
    compose::CompositionPlan plan;
    plan.seed = 4;
    for (int k = 1; k <= 72; ++k)
        plan.merges.push_back({4 + 2 * k, k > 30 && k <= 35 ? Priority::Black : Priority::White});
    plan.merges.push_back(plan.merges.back());
    QImage expected = clipgen::render_frame(c, 4).convertToFormat(QImage::Format_RGB32);
    const QSize whole(c.width, c.height);
    for (const compose::Merge& m : plan.merges)
        expected = fold_frames({expected, clipgen::render_frame(c, static_cast<int>(m.frame))},
                               m.priority == Priority::White, whole);

    const auto composer = open_clip(c.path);
    ASSERT_TRUE(composer);
    const compose::Composite one = picture_of(run_plan(*composer, plan, 1));
    EXPECT_EQ(difference(one.image, expected), "");
    EXPECT_EQ(one.merged, 74);
    // Three parts would put both priorities into the second, whose merge into the first
    // could not wipe the first's trail out; two keep each part after the first to one.
    const compose::Composite split = picture_of(run_plan(*composer, plan, 3));
    EXPECT_EQ(split.parts, 2);
    EXPECT_EQ(difference(split.image, expected), "");

    // A frame outside the clip is refused before anything is composed; a caller may cancel.
    plan.merges.push_back({150, Priority::White});
    const auto outside = run_plan(*composer, plan, 1);
    ASSERT_TRUE(std::holds_alternative<compose::CompositionFailure>(outside));
    EXPECT_EQ(std::get<compose::CompositionFailure>(outside).kind,
              compose::CompositionFailure::Kind::Plan);
    plan.merges.pop_back();
    const auto cancelled =
        composer->compose(plan, {[](const compose::Progress&) { return false; }, {}});
    ASSERT_TRUE(std::holds_alternative<compose::CompositionFailure>(cancelled));
    EXPECT_EQ(std::get<compose::CompositionFailure>(cancelled).kind,
              compose::CompositionFailure::Kind::Cancelled);
}

TEST_F(ComposeInParts, DamagedFramesAreLeftOutOrEndAStrictRun) {
    // Motion JPEG, every frame a picture of its own: frames 7 and 60 (in different parts)
    // damaged, and nothing else.
    const clipgen::ClipOptions c = clip(clipgen::Codec::Mjpeg, 1);
    QByteArray bytes = robustness::read_file(QString::fromStdString(c.path));
    for (const int lost : {7, 60}) {
        const qsizetype chunk = robustness::video_chunks(bytes)[lost];
        for (uint32_t i = 0; i < robustness::chunk_size(bytes, chunk); ++i)
            bytes[chunk + 8 + i] = static_cast<char>((i * 37 + 11) & 0xff);
    }
    const std::string damaged_path = dir_.filePath("damaged.avi").toStdString();
    ASSERT_TRUE(robustness::write_file(QString::fromStdString(damaged_path), bytes));
    const auto good = open_clip(c.path);
    const auto damaged = open_clip(damaged_path);
    ASSERT_TRUE(good && damaged);

    for (const Priority priority : {Priority::White, Priority::Difference}) {
        compose::CompositionPlan all, without;
        all.seed = without.seed = 0;
        for (int n = 1; n < 100; ++n) {
            all.merges.push_back({n, priority});
            if (n != 7 && n != 60) without.merges.push_back({n, priority});
        }
        // The median background is made of the same frames either way.
        all.background = without.background = compose::FrameBackground{3};
        std::vector<compose::SkippedFrame> told;
        const compose::Composite left_out = picture_of(run_plan(*damaged, all, 3, &told));
        EXPECT_EQ(left_out.parts, 3);
        EXPECT_EQ(left_out.skipped, (std::vector<int64_t>{7, 60}));
        EXPECT_EQ(left_out.merged, 98);
        ASSERT_EQ(told.size(), 2u);
        EXPECT_EQ(told[0].frame, 7);
        EXPECT_EQ(told[1].frame, 60);
        EXPECT_FALSE(told[0].background);
        EXPECT_EQ(difference(left_out.image, picture_of(run_plan(*good, without, 1)).image), "");

        // A damaged seed: the next frame seeds the composite.
        compose::CompositionPlan from_seven = all, from_eight = all;
        from_seven.seed = 7;
        from_seven.merges.assign(all.merges.begin() + 7, all.merges.begin() + 20);
        from_eight.seed = 8;
        from_eight.merges.assign(all.merges.begin() + 8, all.merges.begin() + 20);
        EXPECT_EQ(difference(picture_of(run_plan(*damaged, from_seven, 1)).image,
                             picture_of(run_plan(*good, from_eight, 1)).image),
                  "");

        all.strict = true;
        const auto strict = run_plan(*damaged, all, 3);
        ASSERT_TRUE(std::holds_alternative<compose::CompositionFailure>(strict));
        EXPECT_EQ(std::get<compose::CompositionFailure>(strict).kind,
                  compose::CompositionFailure::Kind::Decode);
        EXPECT_NE(std::get<compose::CompositionFailure>(strict).message.find("frame 7 "),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace tambrel::compose_cli::testing
