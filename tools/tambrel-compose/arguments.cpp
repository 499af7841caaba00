#include "arguments.h"

#include <charconv>
#include <cstdlib>

namespace tambrel::compose_cli {

namespace {

constexpr std::string_view kHelp =
    R"(Usage: tambrel-compose CLIP -o OUT [--start N] [--step N] [--count K]
                       [--priority white|black|difference]
                       [--background N | --background-image FILE]
                       [--as-shown] [--strict] [--verbose] [--memory MIB]

Makes the stroboscopic composite of an AVI clip without the window, with the same
media service and the same merge rules as the window's composition run.

The frame numbered --start seeds the composite; then every --step-th frame after it is
merged into it, until --count frames (the seed included) have been merged or the clip
ends. No frame is merged twice. At every pixel the whole colour of one frame is kept,
never a mixture of colours:
  white       the brighter pixel, brightness being the sum of red, green and blue; on
              a tie the new frame wins, as in the window
  black       the darker pixel; on a tie the composite keeps its colour, as in the
              window
  difference  the pixel farthest from the background, a picture of the empty scene,
              distance being the sum of the differences in red, green and blue; on a
              tie the earlier frame stays. A moving object is kept whole wherever it
              is brighter or darker than what lies behind it. Unless one of the
              background options gives it, the background is the per-pixel median of
              up to 15 frames spread evenly from --start to the last frame merged: the
              empty scene wherever the object stays at one place for less than half of
              that time.

Options:
  -o, --output OUT        Where to write the composite. The format follows OUT's
                          extension (png, bmp, jpg, ppm, ... as Qt's image writers
                          offer them); no extension writes PNG. OUT appears only when
                          the whole run has succeeded: the picture is written to a
                          temporary file in OUT's folder and renamed over OUT.
      --start N           First frame, the seed (frames count from 0; default 0).
      --step N            Frames from one merged frame to the next (default 1).
      --count K           Frames to merge, the seed included (default: to the clip's
                          end). The run also stops at the clip's end.
      --priority white|black|difference
                          The rule above; default white. White suits a bright object
                          on a dark background, black a dark object on a bright one,
                          difference any object on any background.
      --background N      With difference: frame N (counted from 0) shows the empty
                          scene and is the background.
      --background-image FILE
                          With difference: the picture in FILE (png, jpg, bmp, ...),
                          of the clip's own size, shows the empty scene.
      --as-shown          Write the picture the window's composite holds after a run
                          with the same settings, as the clipboard receives it: 366 x
                          286 pixels, white, with every frame fitted into the 316 x 236
                          frame area at its top left, only the top-left 313 x 233 pixels
                          merged (the three right columns and bottom rows of the frame
                          area keep the seed), and the scale drawn over it as the
                          window draws it after each frame (a 40-pixel unit, numbers 1
                          to 8 left to right and 1 to 6 top to bottom).
                          Without --as-shown the composite has the clip's own size and
                          the whole frame is merged, with no scale.
      --strict            Stop at the first frame that cannot be decoded (exit status
                          3, nothing written). Without it such a frame is left out
                          with a warning on standard error, and the run goes on.
      --verbose           Also show the decoding library's own messages (at most 200
                          a run) and the media service's details on standard error.
      --memory MIB        Memory for decoded pictures, in mebibytes (default 512, or
                          TAMBREL_MEMORY_MB): a clip whose pictures do not fit is
                          refused, and fewer parts are composed side by side.
  -h, --help              Show this text (in Japanese where the locale is Japanese).

Options take their value as the next argument or after '=' (--step=3, -oOUT); "--"
ends the options.

While it runs, a progress bar is shown on standard error when that is a terminal, and
at the end a summary line: frames merged, frames skipped, the time taken and frames per
second.

Exit status:
  0  the composite was written (frames that cannot be decoded may have been skipped)
  2  usage: an unknown or repeated option, a missing or malformed value, no clip or
     no output, an output format no image writer knows, OUT naming the clip itself,
     --start or --background past the clip's last frame, a background option without
     --priority difference, or a background image that cannot be read or is not of
     the clip's size
  3  the clip cannot be opened; with --strict, one of its frames cannot be decoded;
     without, none of the run's frames (or none for the background) can be
  4  the output cannot be written: OUT is a folder, a named pipe, a socket or a device
     (only a regular file or a new name is replaced), its folder is missing or not
     writable, or the disk is full
Every failure is reported as one line on standard error, and leaves OUT untouched. A
replaced OUT keeps its permissions.

Example: every third frame of the sample, as the window shows it:
  tambrel-compose pendulum.avi -o composite.png --step 3 --as-shown
)";

constexpr std::string_view kHelpJapanese =
    R"(使い方: tambrel-compose クリップ -o 出力 [--start N] [--step N] [--count K]
                       [--priority white|black|difference]
                       [--background N | --background-image ファイル]
                       [--as-shown] [--strict] [--verbose] [--memory MIB]

ウィンドウを開かずに、AVI クリップのストロボ合成画像を作ります。メディアサービスと
合成の規則はウィンドウの合成と同じです。

--start のフレームを最初の画像とし、そのあと --step フレームごとに 1 枚ずつ合成
します。合成した枚数（最初の画像を含む）が --count に達するか、クリップが終わる
まで続けます。同じフレームを二度合成することはありません。各画素には、どれか一つの
フレームの色がそのまま残り、色が混ざることはありません。
  white       明るい方の画素（明るさは赤・緑・青の和）。同じ明るさなら新しい
              フレーム（ウィンドウと同じ）
  black       暗い方の画素。同じ明るさなら合成画像の色のまま（ウィンドウと同じ）
  difference  背景（何も動いていない場面の画像）から最も離れた画素。離れ具合は赤・
              緑・青の差の和で、同じなら先のフレームのまま。動く物体が後ろのものより
              明るくても暗くても、欠けずに残ります。背景を指定しなければ、--start
              から最後に合成するフレームまでに均等に選んだ最大 15 フレームの、画素
              ごとの中央値を背景にします（物体が一つの場所に留まる時間がその半分より
              短ければ、何もない場面になります）。

オプション:
  -o, --output 出力       合成画像の保存先。形式は拡張子で決まります（png、bmp、jpg、
                          ppm など、Qt の画像書き出しが扱えるもの）。拡張子がなければ
                          PNG です。出力は処理がすべて成功したときだけ現れます（同じ
                          フォルダーの一時ファイルに書いてから出力に置き換えます）。
      --start N           最初のフレーム（番号は 0 から。既定は 0）。
      --step N            合成するフレームの間隔（既定は 1）。
      --count K           合成する枚数。最初の画像を含みます（既定はクリップの最後
                          まで）。クリップが終わればそこで止まります。
      --priority white|black|difference
                          上の規則。既定は white。white は暗い背景の明るい物体に、
                          black は明るい背景の暗い物体に、difference はどんな背景の
                          どんな物体にも向きます。
      --background N      difference のとき、何もない場面を写したフレーム N（0 から）
                          を背景にします。
      --background-image ファイル
                          difference のとき、ファイルの画像（png、jpg、bmp など、
                          クリップと同じ大きさ）を何もない場面として背景にします。
      --as-shown          ウィンドウで同じ設定の合成をしたときの合成画像を、クリップ
                          ボードに入るとおりに書き出します。366 x 286 画素の白地に、
                          各フレームを 316 x 236 のフレーム領域の左上に合わせて描き、
                          合成するのはその左上 313 x 233 画素だけです（フレーム領域の
                          右 3 列と下 3 行は最初の画像のまま）。その上に、ウィンドウが
                          フレームごとに描くとおりの目盛（40 画素単位、数字は左から
                          右へ 1〜8、上から下へ 1〜6）を描きます。
                          --as-shown がなければ、合成画像はクリップと同じ大きさで、
                          フレーム全体を合成し、目盛は描きません。
      --strict            復号できないフレームがあればそこで止めます（終了ステータス
                          3、何も書きません）。指定しなければ、そのフレームは標準
                          エラーに警告を出して飛ばし、続けます。
      --verbose           復号ライブラリ自身のメッセージ（1 回の実行で最大 200 行）と
                          メディアサービスの詳細も標準エラーに出します。
      --memory MIB        復号した画像に使うメモリー（MiB 単位。既定は 512、または
                          TAMBREL_MEMORY_MB）。収まらないクリップは開かず、並べて
                          合成する部分の数も減らします。
  -h, --help              この説明を表示します（ロケールが日本語なら日本語で）。

オプションの値は次の引数か '=' の後に書きます（--step=3、-o出力）。"--" より後は
オプションとして扱いません。

標準エラーが端末のときは、実行中に進み具合を表示し、最後に要約を 1 行出します（合成
した枚数、飛ばした枚数、かかった時間、1 秒あたりのフレーム数）。

終了ステータス:
  0  合成画像を書き出した（復号できないフレームを飛ばした場合を含む）
  2  使い方の誤り: 不明なオプションや同じオプションの重複、値がないか正しくない、
     クリップか出力の指定がない、出力の形式に対応する書き出しがない、出力がクリップ
     そのもの、--start か --background がクリップの最後のフレームより後、背景の
     オプションに --priority difference がない、背景画像が読めないかクリップと
     大きさが違う
  3  クリップを開けない。--strict のとき、復号できないフレームがある。指定しない
     とき、合成するフレーム（または背景のフレーム）がどれも復号できない
  4  出力に書き込めない: 出力がフォルダー、名前付きパイプ、ソケット、デバイスである
     （置き換えるのは通常のファイルか新しい名前だけ）、フォルダーがないか書き込め
     ない、ディスクがいっぱい
失敗はどれも標準エラーに 1 行で知らせ、出力には手を付けません。置き換えた出力の
アクセス権はそのまま残ります。

例: サンプルを 3 フレームごとに、ウィンドウに表示されるとおりに合成する:
  tambrel-compose pendulum.avi -o composite.png --step 3 --as-shown
)";

// A whole decimal number in [low, kMaxOptionValue]; no sign, blank or other character.
std::optional<int64_t> whole_number(std::string_view text, int64_t low) {
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < low || value > kMaxOptionValue) return std::nullopt;
    return value;
}

std::string quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

enum class Option {
    Output,
    Start,
    Step,
    Count,
    Priority,
    Background,
    BackgroundImage,
    AsShown,
    Strict,
    Verbose,
    Memory,
    Help,
};
constexpr int kOptionKinds = static_cast<int>(Option::Help) + 1;

struct Spelling {
    std::string_view name;
    Option option;
    bool takes_value;
};

constexpr Spelling kLongOptions[] = {
    {"--output", Option::Output, true},
    {"--start", Option::Start, true},
    {"--step", Option::Step, true},
    {"--count", Option::Count, true},
    {"--priority", Option::Priority, true},
    {"--background", Option::Background, true},
    {"--background-image", Option::BackgroundImage, true},
    {"--as-shown", Option::AsShown, false},
    {"--strict", Option::Strict, false},
    {"--verbose", Option::Verbose, false},
    {"--memory", Option::Memory, true},
    {"--help", Option::Help, false},
};

}  // namespace

Language language_from_environment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return std::string_view(value).starts_with("ja") ? Language::Japanese
                                                             : Language::English;
    }
    return Language::English;
}

std::string_view help_text(Language language) {
    return language == Language::Japanese ? kHelpJapanese : kHelp;
}

ParsedArguments parse_arguments(std::span<const std::string_view> args) {
    ComposeOptions o;
    bool seen[kOptionKinds] = {};
    bool have_clip = false;
    bool options_ended = false;

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const bool looks_like_option = !options_ended && arg.size() > 1 && arg.front() == '-';
        if (!looks_like_option) {
            if (have_clip)
                return UsageError{"only one clip may be given (" + quoted(o.clip) + " and " +
                                  quoted(arg) + ")"};
            if (arg.empty()) return UsageError{"the clip's name is empty"};
            o.clip = std::string(arg);
            have_clip = true;
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }

        // Which option, and its value when written in the same argument.
        std::optional<Spelling> found;
        std::optional<std::string_view> inline_value;
        std::string_view name = arg;
        if (arg.starts_with("--")) {
            if (const size_t eq = arg.find('='); eq != std::string_view::npos) {
                name = arg.substr(0, eq);
                inline_value = arg.substr(eq + 1);
            }
            for (const Spelling& s : kLongOptions)
                if (s.name == name) found = s;
        } else if (arg[1] == 'o') {
            name = "-o";
            found = Spelling{"-o", Option::Output, true};
            if (arg.size() > 2) inline_value = arg.substr(2);
        } else if (arg == "-h") {
            found = Spelling{"-h", Option::Help, false};
        }
        if (!found) return UsageError{"unknown option " + quoted(name) + " (see --help)"};
        if (found->option == Option::Help) {
            if (inline_value) return UsageError{std::string(name) + " takes no value"};
            return HelpRequest{};
        }
        bool& repeated = seen[static_cast<int>(found->option)];
        if (repeated) return UsageError{std::string(name) + " is given more than once"};
        repeated = true;

        std::string_view value;
        if (found->takes_value) {
            if (inline_value) {
                value = *inline_value;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return UsageError{std::string(name) + " needs a value"};
            }
        } else if (inline_value) {
            return UsageError{std::string(name) + " takes no value"};
        }

        switch (found->option) {
            case Option::Output:
                if (value.empty()) return UsageError{"the output's name is empty"};
                o.output = std::string(value);
                break;
            case Option::Start:
            case Option::Step:
            case Option::Count:
            case Option::Memory:
            case Option::Background: {
                const int64_t low =
                    found->option == Option::Start || found->option == Option::Background ? 0 : 1;
                const auto n = whole_number(value, low);
                if (!n)
                    return UsageError{std::string(name) + " needs a whole number from " +
                                      std::to_string(low) + " to " +
                                      std::to_string(kMaxOptionValue) + ", not " + quoted(value)};
                if (found->option == Option::Start) o.start = *n;
                if (found->option == Option::Step) o.step = *n;
                if (found->option == Option::Count) o.count = *n;
                if (found->option == Option::Background) o.background_frame = *n;
                if (found->option == Option::Memory) o.memory_mib = *n;
                break;
            }
            case Option::BackgroundImage:
                if (value.empty()) return UsageError{"the background image's name is empty"};
                o.background_image = std::string(value);
                break;
            case Option::Priority:
                if (value == "white") {
                    o.priority = Priority::White;
                } else if (value == "black") {
                    o.priority = Priority::Black;
                } else if (value == "difference") {
                    o.priority = Priority::Difference;
                } else {
                    return UsageError{"--priority needs white, black or difference, not " +
                                      quoted(value)};
                }
                break;
            case Option::AsShown:
                o.as_shown = true;
                break;
            case Option::Strict:
                o.strict = true;
                break;
            case Option::Verbose:
                o.verbose = true;
                break;
            case Option::Help:
                break;
        }
    }
    if (!have_clip) return UsageError{"no clip given (see --help)"};
    if (o.output.empty()) return UsageError{"no output given: -o OUT"};
    const bool has_background = o.background_frame || !o.background_image.empty();
    if (o.background_frame && !o.background_image.empty())
        return UsageError{"--background and --background-image cannot both be given"};
    if (has_background && o.priority != Priority::Difference)
        return UsageError{std::string(o.background_frame ? "--background" : "--background-image") +
                          " is for --priority difference only"};
    return o;
}

}  // namespace tambrel::compose_cli
