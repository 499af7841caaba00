// The pure parts of tambrel-compose: its command line, how many frames a run merges,
// the window's layout it reproduces, and the progress line.

#include "arguments.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "progress.h"
#include "run.h"

namespace tambrel::compose_cli {
namespace {

ParsedArguments parse(std::vector<std::string_view> args) { return parse_arguments(args); }

ComposeOptions options(std::vector<std::string_view> args) {
    const ParsedArguments p = parse(args);
    if (const auto* e = std::get_if<UsageError>(&p)) ADD_FAILURE() << e->message;
    return std::holds_alternative<ComposeOptions>(p) ? std::get<ComposeOptions>(p)
                                                     : ComposeOptions{};
}

std::string usage_error(std::vector<std::string_view> args) {
    const ParsedArguments p = parse(args);
    const auto* e = std::get_if<UsageError>(&p);
    return e ? e->message : "(accepted)";
}

TEST(ComposeArguments, DefaultsAndEverySpellingOfTheOptions) {
    const ComposeOptions d = options({"clip.avi", "-o", "out.png"});
    EXPECT_EQ(d.clip, "clip.avi");
    EXPECT_EQ(d.output, "out.png");
    EXPECT_EQ(d.start, 0);
    EXPECT_EQ(d.step, 1);
    EXPECT_EQ(d.count, std::nullopt);
    EXPECT_EQ(d.priority, Priority::White);
    EXPECT_EQ(d.background_frame, std::nullopt);
    EXPECT_EQ(d.background_image, "");
    EXPECT_FALSE(d.as_shown);
    EXPECT_FALSE(d.strict);
    EXPECT_FALSE(d.verbose);

    ComposeOptions all;
    all.clip = "c.avi";
    all.output = "o.bmp";
    all.start = 12;
    all.step = 3;
    all.count = 7;
    all.priority = Priority::Black;
    all.as_shown = true;
    EXPECT_EQ(options({"--as-shown", "--output", "o.bmp", "--start", "12", "c.avi", "--step", "3",
                       "--count", "7", "--priority", "black"}),
              all);
    EXPECT_EQ(options({"c.avi", "-oo.bmp", "--start=12", "--step=3", "--count=7",
                       "--priority=black", "--as-shown"}),
              all);
    EXPECT_EQ(options({"--output=o.bmp", "--start", "12", "--step", "3", "--count", "7",
                       "--priority", "black", "--as-shown", "--", "c.avi"}),
              all);
    // After "--" a name may start with a dash; a lone "-" is a name anyway.
    EXPECT_EQ(options({"-o", "o.png", "--", "--odd.avi"}).clip, "--odd.avi");
    EXPECT_EQ(options({"-o", "o.png", "-"}).clip, "-");
    EXPECT_EQ(options({"c.avi", "-o", "o.png", "--priority", "white"}).priority, Priority::White);
    EXPECT_EQ(options({"c.avi", "-o", "o.png", "--start", "0", "--step", "2147483647"}).step,
              kMaxOptionValue);

    ComposeOptions difference;
    difference.clip = "c.avi";
    difference.output = "o.png";
    difference.priority = Priority::Difference;
    difference.background_frame = 0;
    difference.strict = true;
    difference.verbose = true;
    EXPECT_EQ(options({"c.avi", "-o", "o.png", "--priority", "difference", "--background", "0",
                       "--strict", "--verbose"}),
              difference);
    EXPECT_EQ(options({"--verbose", "--background=0", "--strict", "--priority=difference", "c.avi",
                       "-oo.png"}),
              difference);
    difference.background_frame.reset();
    difference.background_image = "empty scene.png";
    EXPECT_EQ(options({"c.avi", "-o", "o.png", "--background-image", "empty scene.png", "--strict",
                       "--verbose", "--priority", "difference"}),
              difference);
}

TEST(ComposeArguments, TrackWithOrWithoutTheCompositeAndWhatOnlyItTakes) {
    ComposeOptions t;
    t.clip = "c.avi";
    t.track = "p.csv";
    t.scale = 1.0 / 600;
    t.fit = TrackFit::Sine;
    t.step = 3;
    EXPECT_EQ(options({"c.avi", "--track", "p.csv", "--scale", "0.0016666666666666668", "--fit",
                       "sine", "--step", "3"}),
              t);
    t.output = "o.png";
    t.fit = TrackFit::Parabola;
    t.scale = 2.5e-3;
    EXPECT_EQ(options({"c.avi", "--track=p.csv", "-oo.png", "--scale=2.5e-3", "--fit=parabola",
                       "--step=3"}),
              t);
    EXPECT_EQ(options({"c.avi", "--track", "p.csv", "--fit", "line"}).fit, TrackFit::Line);

    EXPECT_EQ(usage_error({"c.avi", "--scale", "0.002"}),
              "no output given: -o OUT, --track OUT.csv or both");
    EXPECT_EQ(usage_error({"c.avi", "-o", "o.png", "--fit", "line"}), "--fit is for --track only");
    EXPECT_EQ(usage_error({"c.avi", "-o", "o.png", "--scale", "1"}), "--scale is for --track only");
    EXPECT_EQ(usage_error({"c.avi", "--track", "p.csv", "--fit", "circle"}),
              "--fit needs line, parabola or sine, not 'circle'");
    for (std::string_view bad : {"", "0", "-0.002", "abc", "1/600", "inf", "nan", "2e-3x"})
        EXPECT_EQ(
            usage_error({"c.avi", "--track", "p.csv", "--scale", bad}).rfind("--scale needs ", 0),
            0u)
            << bad;
    EXPECT_EQ(usage_error({"c.avi", "--track="}), "the name after --track is empty");
    EXPECT_EQ(usage_error({"c.avi", "--track", "x", "-o", "x"}),
              "--track and -o name the same file 'x'");
    EXPECT_EQ(usage_error({"c.avi", "--track", "p.csv", "--as-shown"}),
              "--as-shown is for the composite (-o OUT) only");
    EXPECT_EQ(usage_error({"c.avi", "--track", "p.csv", "--priority", "black"}),
              "--priority is for the composite (-o OUT) only");
}

TEST(ComposeArguments, HelpWhereverItStandsBeforeAProblem) {
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(parse({"--help"})));
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(parse({"-h"})));
    EXPECT_FALSE(std::holds_alternative<HelpRequest>(parse({"c.avi", "--step", "0x", "--help"})));
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(parse({"c.avi", "--help", "--bogus"})));
    EXPECT_EQ(usage_error({"--help=yes"}), "--help takes no value");
}

TEST(ComposeArguments, HelpInEnglishOrJapaneseAsTheLocaleSays) {
    for (const Language language : {Language::English, Language::Japanese}) {
        const std::string_view help = help_text(language);
        for (std::string_view word : {"-o, --output",
                                      "--start N",
                                      "--step N",
                                      "--count K",
                                      "--priority white|black|difference",
                                      "--background N",
                                      "--background-image",
                                      "--as-shown",
                                      "--strict",
                                      "--verbose",
                                      "-h, --help",
                                      "316 x 236",
                                      "\n  2  ",
                                      "\n  3  ",
                                      "\n  4  ",
                                      "--track",
                                      "--scale",
                                      "--fit line|parabola|sine",
                                      "k,frame,t_s,x_px,y_px,area_px,found",
                                      "x_m,y_m"})
            EXPECT_NE(help.find(word), std::string_view::npos) << word;
    }
    EXPECT_TRUE(help_text(Language::English).starts_with("Usage: tambrel-compose"));
    EXPECT_TRUE(help_text(Language::Japanese).starts_with("使い方: tambrel-compose"));

    // LC_ALL before LC_MESSAGES before LANG; an empty one does not count.
    struct Locale {
        const char *all, *messages, *lang;
        Language expected;
    };
    for (const Locale& l : {Locale{nullptr, nullptr, nullptr, Language::English},
                            Locale{nullptr, nullptr, "ja_JP.UTF-8", Language::Japanese},
                            Locale{"", "ja_JP.UTF-8", "C", Language::Japanese},
                            Locale{"C.UTF-8", "ja_JP.UTF-8", "ja_JP.UTF-8", Language::English},
                            Locale{"ja_JP.eucJP", nullptr, "en_GB.UTF-8", Language::Japanese}}) {
        for (const auto& [name, value] :
             {std::pair{"LC_ALL", l.all}, std::pair{"LC_MESSAGES", l.messages},
              std::pair{"LANG", l.lang}}) {
            if (value)
                setenv(name, value, 1);
            else
                unsetenv(name);
        }
        EXPECT_EQ(language_from_environment(), l.expected)
            << (l.all ? l.all : "-") << " " << (l.messages ? l.messages : "-") << " "
            << (l.lang ? l.lang : "-");
    }
}

TEST(ComposeArguments, EachProblemIsNamed) {
    EXPECT_EQ(usage_error({}), "no clip given (see --help)");
    EXPECT_EQ(usage_error({"c.avi"}), "no output given: -o OUT, --track OUT.csv or both");
    EXPECT_EQ(usage_error({"c.avi", "-o"}), "-o needs a value");
    EXPECT_EQ(usage_error({"c.avi", "--output="}), "the output's name is empty");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--step"}), "--step needs a value");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--bogus"}),
              "unknown option '--bogus' (see --help)");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--bogus=1"}),
              "unknown option '--bogus' (see --help)");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "-x"}), "unknown option '-x' (see --help)");
    EXPECT_EQ(usage_error({"c.avi", "d.avi", "-o", "x"}),
              "only one clip may be given ('c.avi' and 'd.avi')");
    EXPECT_EQ(usage_error({"", "-o", "x"}), "the clip's name is empty");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--as-shown=1"}), "--as-shown takes no value");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "-o", "y"}), "-o is given more than once");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--output", "y"}),
              "--output is given more than once");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--priority", "White"}),
              "--priority needs white, black or difference, not 'White'");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--background", "3"}),
              "--background is for --priority difference only");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--priority", "black", "--background-image", "b"}),
              "--background-image is for --priority difference only");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--priority", "difference", "--background", "3",
                           "--background-image", "b.png"}),
              "--background and --background-image cannot both be given");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--priority", "difference", "--background", "-1"}),
              "--background needs a whole number from 0 to 2147483647, not '-1'");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--background-image="}),
              "the background image's name is empty");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--strict=yes"}), "--strict takes no value");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--verbose", "--verbose"}),
              "--verbose is given more than once");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--step", "0"}),
              "--step needs a whole number from 1 to 2147483647, not '0'");
    EXPECT_EQ(usage_error({"c.avi", "-o", "x", "--start", "-1"}),
              "--start needs a whole number from 0 to 2147483647, not '-1'");
    for (std::string_view bad :
         {"", "+3", " 3", "3 ", "3.0", "1e3", "0x10", "2147483648", "99999999999999999999"})
        EXPECT_NE(usage_error({"c.avi", "-o", "x", "--count", bad}), "(accepted)") << bad;
}

TEST(ComposeRun, FramesMergedStopAtTheEndAndAtTheCount) {
    EXPECT_EQ(frames_in_run(300, 0, 1, std::nullopt), 300);
    EXPECT_EQ(frames_in_run(300, 0, 3, std::nullopt), 100);  // 0, 3, ... 297
    EXPECT_EQ(frames_in_run(300, 1, 3, std::nullopt), 100);  // 1 ... 298
    EXPECT_EQ(frames_in_run(300, 3, 3, std::nullopt), 99);   // 3 ... 297
    EXPECT_EQ(frames_in_run(300, 299, 1, std::nullopt), 1);
    EXPECT_EQ(frames_in_run(300, 300, 1, std::nullopt), 0);
    EXPECT_EQ(frames_in_run(300, 0, 1000, std::nullopt), 1);
    EXPECT_EQ(frames_in_run(300, 10, 5, 4), 4);
    EXPECT_EQ(frames_in_run(20, 15, 4, 50), 2);
    EXPECT_EQ(frames_in_run(0, 0, 1, std::nullopt), 0);
    EXPECT_EQ(frames_in_run(2147483647, 2147483646, 2147483647, std::nullopt), 1);
}

TEST(ComposeRun, TheWindowsPicturesAtStartUp) {
    const compose::WindowLayout w = compose::window_layout();
    EXPECT_EQ(w.frame_area, QSize(316, 236));
    EXPECT_EQ(w.composite, QSize(366, 286));
    EXPECT_EQ(w.merge_region, QSize(313, 233));
}

TEST(ComposeProgress, BarPercentageAndCount) {
    EXPECT_EQ(progress_line(0, 300, 10), "[          ]   0%  0/300 frames");
    EXPECT_EQ(progress_line(150, 300, 10), "[=====>    ]  50%  150/300 frames");
    EXPECT_EQ(progress_line(299, 300, 10), "[=========>]  99%  299/300 frames");
    EXPECT_EQ(progress_line(300, 300, 10), "[==========] 100%  300/300 frames");
    EXPECT_EQ(progress_line(1, 1, 4), "[====] 100%  1/1 frames");
}

}  // namespace
}  // namespace tambrel::compose_cli
