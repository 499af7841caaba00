// The command language, the frame index, the reply buffer and the error table.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "media/service/command_parser.h"
#include "media/service/command_service.h"
#include "media/service/frame_index.h"
#include "media/service/media_errors.h"

namespace tambrel::media {
namespace {

template <typename T>
T parsed_as(std::string_view text) {
    const ParseResult r = parse_command(text);
    EXPECT_EQ(r.error, MediaError::None) << text;
    if (!r.command || !std::holds_alternative<T>(*r.command)) {
        ADD_FAILURE() << "wrong command kind for: " << text;
        return T{};
    }
    return std::get<T>(*r.command);
}

MediaError error_of(std::string_view text) { return parse_command(text).error; }

TEST(CommandParser, EveryVerbIsReadWithoutRegardToCase) {
    EXPECT_EQ(parsed_as<CloseCommand>("CLOSE AvFile").alias, "avfile");
    EXPECT_EQ(parsed_as<StatusCommand>("Status avfile LENGTH").item, StatusItem::Length);
    EXPECT_EQ(parsed_as<StatusCommand>("status avfile position").item, StatusItem::Position);
    EXPECT_EQ(parsed_as<StatusCommand>("status avfile Frame  Rate").item, StatusItem::FrameRate);
    EXPECT_EQ(parsed_as<StatusCommand>("STATUS avfile capture rate").item, StatusItem::CaptureRate);
    EXPECT_EQ(parsed_as<StatusCommand>("status avfile time").item, StatusItem::Time);
    EXPECT_EQ(error_of("status avfile frame"), MediaError::BadParameter);
    EXPECT_EQ(error_of("status avfile rate"), MediaError::BadParameter);
    EXPECT_EQ(error_of("status avfile time rate"), MediaError::BadParameter);
    EXPECT_EQ(parsed_as<WhereCommand>("Where avfile SOURCE").alias, "avfile");
    EXPECT_EQ(error_of("where avfile"), MediaError::BadParameter);
    EXPECT_EQ(error_of("where avfile destination"), MediaError::BadParameter);
    EXPECT_EQ(parsed_as<PlayCommand>("PLAY avfile WINDOW").alias, "avfile");
    EXPECT_EQ(parsed_as<PlayCommand>("play avfile").alias, "avfile");
    EXPECT_EQ(parsed_as<PauseCommand>("Pause avfile").alias, "avfile");
    EXPECT_EQ(parsed_as<StopCommand>("stop AVFILE").alias, "avfile");
    EXPECT_FALSE(parsed_as<StepCommand>("step avfile").reverse);
    EXPECT_TRUE(parsed_as<StepCommand>("STEP avfile Reverse").reverse);
    EXPECT_EQ(parsed_as<SeekCommand>("SEEK avfile TO 57").frame, 57);
    EXPECT_EQ(parsed_as<UpdateCommand>("update avfile HDC 65553").hdc, 65553);
}

TEST(CommandParser, WordsAreSeparatedByAnyRunOfBlanks) {
    // Leading-blank number forms give two blanks after a keyword.
    EXPECT_EQ(parsed_as<SeekCommand>("seek avfile to  0").frame, 0);
    const auto put = parsed_as<DestinationCommand>("put avfile destination at 0 0  316  236");
    ASSERT_TRUE(put.rect);
    EXPECT_EQ(*put.rect, (DestinationRect{0, 0, 316, 236}));
    EXPECT_EQ(parsed_as<CloseCommand>("  \tclose \t avfile  ").alias, "avfile");
}

TEST(CommandParser, OpenTakesBlankFreePathAliasAndOptionalParent) {
    const auto plain = parsed_as<OpenCommand>("open /clips/a.avi alias avfile");
    EXPECT_EQ(plain.path, "/clips/a.avi");
    EXPECT_EQ(plain.alias, "avfile");
    EXPECT_FALSE(plain.parent);

    const auto child =
        parsed_as<OpenCommand>("open /my%20clips/B%25.AVI alias AVFILE style child parent 65552");
    EXPECT_EQ(child.path, "/my clips/B%.AVI");  // path keeps its case, alias is folded
    EXPECT_EQ(child.alias, "avfile");
    EXPECT_EQ(child.parent, 65552);

    EXPECT_EQ(parsed_as<OpenCommand>("open a.avi parent 7 alias x").parent, 7);

    EXPECT_EQ(error_of("open"), MediaError::BadParameter);
    EXPECT_EQ(error_of("open a.avi"), MediaError::BadParameter);  // alias is required
    EXPECT_EQ(error_of("open a.avi alias"), MediaError::BadParameter);
    EXPECT_EQ(error_of("open a%2.avi alias x"), MediaError::BadParameter);
    EXPECT_EQ(error_of("open a.avi alias x style popup"), MediaError::BadParameter);
    EXPECT_EQ(error_of("open a.avi alias x style child parent"), MediaError::BadParameter);
    EXPECT_EQ(error_of("open a.avi alias x parent window"), MediaError::BadParameter);
    EXPECT_EQ(error_of("open a.avi alias x alias y"), MediaError::BadParameter);
    EXPECT_EQ(error_of("open a.avi alias x shareable"), MediaError::BadParameter);
}

TEST(CommandParser, DestinationRectangleIsCheckedForFormAndRange) {
    const auto put = parsed_as<DestinationCommand>("put avfile destination at -5 7 100 50");
    ASSERT_TRUE(put.rect);
    EXPECT_EQ(*put.rect, (DestinationRect{-5, 7, 100, 50}));
    EXPECT_FALSE(parsed_as<DestinationCommand>("put avfile destination").rect);

    EXPECT_EQ(error_of("put avfile destination at 0 0 0 240"), MediaError::OutOfRange);
    EXPECT_EQ(error_of("put avfile destination at 0 0 320 -1"), MediaError::OutOfRange);
    EXPECT_EQ(error_of("put avfile destination at 0 0 16385 10"), MediaError::OutOfRange);
    EXPECT_EQ(error_of("put avfile destination at 0 0 99999999999 10"), MediaError::OutOfRange);
    EXPECT_EQ(error_of("put avfile destination at 0 0 320"), MediaError::BadParameter);
    EXPECT_EQ(error_of("put avfile destination at 0 0 320 240 1"), MediaError::BadParameter);
    EXPECT_EQ(error_of("put avfile destination at 0 0 320 2x0"), MediaError::BadParameter);
    EXPECT_EQ(error_of("put avfile destination 0 0 320 240"), MediaError::BadParameter);
    EXPECT_EQ(error_of("put avfile source at 0 0 320 240"), MediaError::BadParameter);
    EXPECT_EQ(error_of("put avfile"), MediaError::BadParameter);
}

TEST(CommandParser, MalformedCommandsAreRefusedWithTheirOwnError) {
    EXPECT_EQ(error_of(""), MediaError::UnknownCommand);
    EXPECT_EQ(error_of("   "), MediaError::UnknownCommand);
    EXPECT_EQ(error_of("rewind avfile"), MediaError::UnknownCommand);
    EXPECT_EQ(error_of("closeavfile"), MediaError::UnknownCommand);
    EXPECT_EQ(error_of("close"), MediaError::BadParameter);
    EXPECT_EQ(error_of("close avfile now"), MediaError::BadParameter);
    EXPECT_EQ(error_of("status avfile"), MediaError::BadParameter);
    EXPECT_EQ(error_of("status avfile mode"), MediaError::BadParameter);
    EXPECT_EQ(error_of("play avfile fullscreen"), MediaError::BadParameter);
    EXPECT_EQ(error_of("pause avfile now"), MediaError::BadParameter);
    EXPECT_EQ(error_of("step avfile by 2"), MediaError::BadParameter);
    EXPECT_EQ(error_of("seek avfile 5"), MediaError::BadParameter);
    EXPECT_EQ(error_of("seek avfile to five"), MediaError::BadParameter);
    EXPECT_EQ(error_of("seek avfile to 5.5"), MediaError::BadParameter);
    EXPECT_EQ(error_of("seek avfile to 99999999999999999999"), MediaError::OutOfRange);
    EXPECT_EQ(error_of("update avfile hdc"), MediaError::BadParameter);
    EXPECT_EQ(error_of("update avfile dc 5"), MediaError::BadParameter);
    EXPECT_EQ(error_of("update avfile hdc 0x10"), MediaError::BadParameter);
    // A negative frame is well formed; the device refuses it against its length.
    EXPECT_EQ(parsed_as<SeekCommand>("seek avfile to -1").frame, -1);
}

TEST(CommandParser, HostileLinesAreJudgedAlikeWhateverTheirForm) {
    using namespace std::string_literals;
    // A NUL anywhere, raw or written in the path, would shorten what the file system sees.
    EXPECT_EQ(error_of("status avfile\0 length"s), MediaError::BadParameter);
    EXPECT_EQ(error_of("open /clips/a.avi%00.txt alias a"), MediaError::BadParameter);
    EXPECT_EQ(error_of("open /clips/a.avi\0.txt alias a"s), MediaError::BadParameter);
    // Line ends and trailing blanks, however many, are not words.
    EXPECT_EQ(parsed_as<StatusCommand>("status avfile length\r\r").item, StatusItem::Length);
    EXPECT_EQ(parsed_as<StatusCommand>("status avfile length \t\r\n \r").item, StatusItem::Length);
    EXPECT_EQ(error_of("status avfile len\rgth"), MediaError::BadParameter);
    // One number, one verdict: too large for a handle is out of range in every command.
    EXPECT_EQ(error_of("update avfile hdc 2147483648"), MediaError::OutOfRange);
    EXPECT_EQ(error_of("open a.avi alias x parent 2147483648"), MediaError::OutOfRange);
    EXPECT_EQ(error_of("put avfile destination at 0 0 2147483648 10"), MediaError::OutOfRange);
}

TEST(CommandParser, IntegersAreWholeDecimalWordsWithin64Bits) {
    EXPECT_EQ(parse_integer("0"), 0);
    EXPECT_EQ(parse_integer("+12"), 12);
    EXPECT_EQ(parse_integer("-0"), 0);
    EXPECT_EQ(parse_integer("007"), 7);
    EXPECT_EQ(parse_integer("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(parse_integer("-9223372036854775808"), INT64_MIN);
    bool overflow = false;
    EXPECT_FALSE(parse_integer("9223372036854775808", &overflow));
    EXPECT_TRUE(overflow);
    for (const char* bad : {"", "-", "+", "1a", " 1", "1e3", "--1"}) {
        EXPECT_FALSE(parse_integer(bad, &overflow)) << bad;
        EXPECT_FALSE(overflow) << bad;
    }
}

TEST(FrameIndex, EmptyChunksCountAsFramesAndShowThePreviousPicture) {
    // Data in slots 0, 6 and 8 of nine, as a capture tool writes dropped frames.
    const FrameIndex index({{0, 0, true}, {6, 6, true}, {8, 8, true}}, 9);
    EXPECT_EQ(index.length(), 9);
    EXPECT_EQ(index.data_frames(), 3u);
    const int64_t expected[] = {0, 0, 0, 0, 0, 0, 6, 6, 8};
    for (int64_t n = 0; n < 9; ++n) EXPECT_EQ(index.picture_of(n), expected[n]) << n;
    EXPECT_TRUE(index.is_data(6));
    EXPECT_FALSE(index.is_data(7));
}

TEST(FrameIndex, LengthIsTheLargerOfHeaderCountAndIndexExtent) {
    EXPECT_EQ(FrameIndex({{0, 0, true}, {156, 156, false}}, 157).length(), 157);
    EXPECT_EQ(FrameIndex({{0, 0, true}, {8, 8, false}}, 5).length(), 9);
    EXPECT_EQ(FrameIndex({{0, 0, true}}, 12).length(), 12);  // trailing empty chunks
    // Leading empty chunks show the first picture.
    const FrameIndex late_start({{2, 2, true}, {3, 3, false}}, 4);
    EXPECT_EQ(late_start.picture_of(0), 2);
    EXPECT_EQ(late_start.picture_of(1), 2);
}

TEST(FrameIndex, InputIsSortedAndDuplicatesAndNegativeSlotsDropped) {
    const FrameIndex index(
        {{3, 3, false}, {-1, -1, true}, {1, 1, true}, {3, 30, true}, {2, 2, false}}, 0);
    EXPECT_EQ(index.data_frames(), 3u);
    EXPECT_EQ(index.length(), 4);
    EXPECT_EQ(index.key_at_or_before(3).slot, 1);  // the first entry for slot 3 is kept
    EXPECT_EQ(index.key_at_or_before(3).stamp, 1);
}

TEST(FrameIndex, StartPointsAreTheKeyEntriesAtOrBefore) {
    std::vector<IndexEntry> entries;
    for (int64_t s = 0; s < 30; ++s) entries.push_back({s, s * 10, s % 10 == 0});
    FrameIndex index(entries, 30);
    EXPECT_EQ(index.key_count(), 3u);
    EXPECT_EQ(index.key_at_or_before(0).slot, 0);
    EXPECT_EQ(index.key_at_or_before(9).slot, 0);
    EXPECT_EQ(index.key_at_or_before(10).slot, 10);
    EXPECT_EQ(index.key_at_or_before(29).slot, 20);
    EXPECT_EQ(index.key_at_or_before(29).stamp, 200);
    EXPECT_EQ(index.key_before(20)->slot, 10);
    EXPECT_EQ(index.key_before(15)->slot, 10);
    EXPECT_FALSE(index.key_before(0));

    // A start point that turned out not to start a picture is passed over from then on.
    index.mark_not_key(20);
    EXPECT_EQ(index.key_at_or_before(29).slot, 10);
    EXPECT_EQ(index.key_count(), 2u);
    // The first entry always stays a start point.
    index.mark_not_key(0);
    EXPECT_EQ(index.key_at_or_before(5).slot, 0);
}

TEST(FrameIndex, WithoutKeyEntriesDecodingStartsAtTheFirstChunk) {
    const FrameIndex index({{4, 4, false}, {5, 5, false}}, 6);
    EXPECT_EQ(index.key_at_or_before(5).slot, 4);
    EXPECT_EQ(index.key_at_or_before(0).slot, 4);
    EXPECT_FALSE(index.key_before(4));

    // A file whose every chunk claims to be a keyframe, for a decoder that cannot say.
    FrameIndex all_key({{0, 0, true}, {1, 1, true}, {2, 2, true}}, 3);
    all_key.keep_first_key_only();
    EXPECT_EQ(all_key.key_count(), 1u);
    EXPECT_EQ(all_key.key_at_or_before(2).slot, 0);
}

TEST(ReplyBuffer, TextIsCutToCapacityAtACharacterBoundary) {
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    copy_reply("12345", buf, sizeof buf);
    EXPECT_STREQ(buf, "12345");
    copy_reply("123456789", buf, sizeof buf);
    EXPECT_STREQ(buf, "1234567");
    // "フレーム" is 3 bytes a character: 7 bytes of room hold two characters, not 2⅓.
    copy_reply("\xE3\x83\x95\xE3\x83\xAC\xE3\x83\xBC", buf, sizeof buf);
    EXPECT_STREQ(buf, "\xE3\x83\x95\xE3\x83\xAC");
    copy_reply("abc", buf, 1);
    EXPECT_STREQ(buf, "");
    buf[0] = 'z';
    copy_reply("abc", buf, 0);
    EXPECT_EQ(buf[0], 'z');
}

TEST(ErrorTable, EveryErrorHasItsOwnTextAndUnknownNumbersNone) {
    const MediaError all[] = {
        MediaError::UnknownCommand, MediaError::BadParameter,  MediaError::OutOfRange,
        MediaError::NotOpen,        MediaError::AliasInUse,    MediaError::FileNotFound,
        MediaError::NotPlayable,    MediaError::UnknownHandle, MediaError::DecodeFailed,
        MediaError::NoMemory,       MediaError::TooManyDevices};
    std::set<std::string_view> texts;
    std::set<int32_t> numbers;
    for (const MediaError e : all) {
        EXPECT_NE(code(e), 0);
        EXPECT_FALSE(error_text(code(e)).empty());
        texts.insert(error_text(code(e)));
        numbers.insert(code(e));
    }
    EXPECT_EQ(texts.size(), std::size(all));
    EXPECT_EQ(numbers.size(), std::size(all));
    EXPECT_TRUE(error_text(0).empty());
    EXPECT_TRUE(error_text(1).empty());

    HandleTable handles;
    CommandService service(handles);
    char buf[256] = "untouched";
    EXPECT_FALSE(service.error_string(12345, buf, sizeof buf));
    EXPECT_STREQ(buf, "untouched");
    EXPECT_TRUE(service.error_string(code(MediaError::NotOpen), buf, sizeof buf));
    EXPECT_EQ(std::string_view(buf), error_text(code(MediaError::NotOpen)));
    // The texts are Japanese (three bytes a character) with an English gloss at the end:
    // each must come through the reply buffer whole, gloss included.
    for (const MediaError e : all) {
        char whole[256] = {};
        ASSERT_TRUE(service.error_string(code(e), whole, sizeof whole));
        EXPECT_EQ(std::string_view(whole), error_text(code(e)));
        EXPECT_EQ(error_text(code(e)).back(), ')') << error_text(code(e));
    }
}

TEST(CommandService, RefusesEveryCommandWhenNothingIsOpen) {
    HandleTable handles;
    CommandService service(handles);
    char reply[256] = "previous answer";
    for (const char* c :
         {"close avfile", "status avfile length", "status avfile position", "play avfile window",
          "pause avfile", "stop avfile", "step avfile", "step avfile reverse", "seek avfile to  0",
          "update avfile hdc 5", "put avfile destination at 0 0  316  236"}) {
        EXPECT_EQ(service.send_string(c, reply, sizeof reply), code(MediaError::NotOpen)) << c;
        EXPECT_STREQ(reply, "") << c;
    }
    EXPECT_EQ(service.send_string("frobnicate avfile", reply, sizeof reply),
              code(MediaError::UnknownCommand));
    EXPECT_EQ(service.send_string(nullptr, reply, sizeof reply), code(MediaError::UnknownCommand));
}

}  // namespace
}  // namespace tambrel::media
