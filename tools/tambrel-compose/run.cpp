#include "run.h"

#include <QFile>
#include <QImageReader>
#include <algorithm>

namespace tambrel::compose_cli {

namespace {

using compose::CompositionFailure;

int status_of(CompositionFailure::Kind kind) {
    switch (kind) {
        case CompositionFailure::Kind::Plan:
            return kExitUsage;
        case CompositionFailure::Kind::Open:
        case CompositionFailure::Kind::Decode:
        case CompositionFailure::Kind::Memory:
        case CompositionFailure::Kind::Cancelled:
            break;
    }
    return kExitClip;
}

std::variant<QImage, RunFailure> read_picture(const std::string& path) {
    QImageReader reader(QFile::decodeName(path.c_str()));
    // A photograph of the scene is meant as a viewer shows it, upright.
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        return RunFailure{kExitUsage, "cannot read the background image '" + path +
                                          "': " + reader.errorString().toStdString()};
    return image;
}

}  // namespace

int64_t frames_in_run(int64_t length, int64_t start, int64_t step, std::optional<int64_t> count) {
    if (start < 0 || step < 1 || start >= length) return 0;
    const int64_t available = (length - 1 - start) / step + 1;
    return count ? std::min(*count, available) : available;
}

compose::CompositionPlan plan_for(const ComposeOptions& options, int64_t total,
                                  const QImage& background_picture) {
    compose::CompositionPlan plan;
    plan.seed = options.start;
    plan.merges.reserve(static_cast<size_t>(std::max<int64_t>(total - 1, 0)));
    for (int64_t k = 1; k < total; ++k)
        plan.merges.push_back({options.start + k * options.step, options.priority});
    plan.size = options.as_shown ? compose::OutputSize::AsShown : compose::OutputSize::Clip;
    if (options.background_frame)
        plan.background = compose::FrameBackground{*options.background_frame};
    else if (!options.background_image.empty())
        plan.background = compose::PictureBackground{background_picture};
    plan.strict = options.strict;
    return plan;
}

std::variant<compose::Composite, RunFailure> compose(const ComposeOptions& options,
                                                     const compose::Callbacks& callbacks,
                                                     compose::RunLimits limits) {
    QImage picture;
    if (!options.background_image.empty()) {
        auto read = read_picture(options.background_image);
        if (auto* failure = std::get_if<RunFailure>(&read)) return *failure;
        picture = std::get<QImage>(std::move(read));
    }

    auto opened = compose::ClipComposer::open(options.clip);
    if (const auto* failure = std::get_if<CompositionFailure>(&opened))
        return RunFailure{status_of(failure->kind), failure->message};
    compose::ClipComposer& clip = *std::get<std::unique_ptr<compose::ClipComposer>>(opened);

    const std::string last = std::to_string(clip.length() - 1);
    const int64_t total = frames_in_run(clip.length(), options.start, options.step, options.count);
    if (total == 0)
        return RunFailure{kExitUsage, "--start " + std::to_string(options.start) +
                                          " is past the clip's last frame (" + last + ")"};
    if (options.background_frame && *options.background_frame >= clip.length())
        return RunFailure{kExitUsage, "--background " + std::to_string(*options.background_frame) +
                                          " is past the clip's last frame (" + last + ")"};
    if (!picture.isNull() && picture.size() != clip.size())
        return RunFailure{kExitUsage, "the background image '" + options.background_image +
                                          "' is " + std::to_string(picture.width()) + " x " +
                                          std::to_string(picture.height()) +
                                          " pixels, not the clip's " +
                                          std::to_string(clip.size().width()) + " x " +
                                          std::to_string(clip.size().height())};

    auto result = clip.compose(plan_for(options, total, picture), callbacks, limits);
    if (const auto* failure = std::get_if<CompositionFailure>(&result))
        return RunFailure{status_of(failure->kind), failure->message};
    return std::get<compose::Composite>(std::move(result));
}

}  // namespace tambrel::compose_cli
