// The window's command line: what it answers before Qt starts, the clip it opens, and
// the mistakes it refuses.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

using tambrel::CommandLine;
using Request = CommandLine::Request;

namespace {
CommandLine parse(std::vector<std::string_view> args) { return CommandLine::parse(args); }
}  // namespace

TEST(CommandLine, HelpAndVersionAnswerWhateverElseIsGiven) {
    EXPECT_EQ(parse({"--help"}).request(), Request::Help);
    EXPECT_EQ(parse({"-h"}).request(), Request::Help);
    EXPECT_EQ(parse({"--version"}).request(), Request::Version);
    // Before QApplication has taken out its options, and beside mistakes: the first wins.
    EXPECT_EQ(parse({"-platform", "offscreen", "--version", "--help"}).request(), Request::Version);
    EXPECT_EQ(parse({"a.avi", "b.avi", "--bogus", "--help"}).request(), Request::Help);
    // After "--" they are file names.
    const CommandLine named = parse({"--", "--help"});
    EXPECT_EQ(named.request(), Request::Run);
    EXPECT_EQ(named.file(), "--help");

    // The manual page is made from these (help2man reads the usage line and the options).
    EXPECT_TRUE(CommandLine::help_text().starts_with("Usage: tambrel [OPTION]... [FILE]\n"));
    const std::string version = CommandLine::version_text("1.2.3");
    EXPECT_EQ(version.substr(0, version.find('\n')), "tambrel 1.2.3");
    EXPECT_NE(version.find("GPL version 3 or later"), std::string::npos);
}

TEST(CommandLine, OneClipOpensAndMistakesAreRefusedInOneLine) {
    EXPECT_EQ(parse({}).request(), Request::Run);
    EXPECT_FALSE(parse({}).file());
    // Any name a file manager passes, Japanese and blanks included, is taken as it is.
    const CommandLine clip = parse({"/home/学生/振り子 実験/clip 1.MOV"});
    EXPECT_EQ(clip.request(), Request::Run);
    EXPECT_EQ(clip.file(), "/home/学生/振り子 実験/clip 1.MOV");
    EXPECT_EQ(parse({"-"}).file(), "-");

    struct Case {
        std::vector<std::string_view> args;
        std::string_view error;
    };
    for (const Case& c : {Case{{"--bogus"}, "unknown option '--bogus'"},
                          Case{{"-x", "a.avi"}, "unknown option '-x'"},
                          Case{{"a.avi", "b.mp4"}, "one clip at a time: 'a.avi' and 'b.mp4'"},
                          Case{{""}, "an empty file name"}}) {
        const CommandLine refused = CommandLine::parse(c.args);
        EXPECT_EQ(refused.request(), Request::Usage) << c.error;
        EXPECT_EQ(refused.error(), c.error);
        EXPECT_FALSE(refused.file()) << c.error;
    }
}
