#include "arguments.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace tambrel::compose_cli {

namespace {

constexpr std::string_view kHelp =
    R"(Usage: tambrel-compose CLIP -o OUT [--start N] [--step N] [--count K]
                       [--priority white|black|difference]
                       [--background N | --background-image FILE]
                       [--as-shown] [--strict] [--verbose] [--memory MIB]
       tambrel-compose CLIP --track OUT.csv [--scale METRES] [--fit line|parabola|sine]
                       [-o OUT] [--start N] [--step N] [--count K] ...

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

With --track the moving object is found in each frame of the run by itself, and its
positions go to OUT.csv (with -o the composite is made as well). Each frame is compared
with the empty scene, the same median background as difference priority takes; what
differs from it by more than the picture's own noise (a threshold chosen from the
difference's histogram by Otsu's method) makes connected regions, and the object is the
region of its usual size that lies on the path the others make: a smaller second body,
a flicker or noise is never taken for it. One row per frame of the run:
  k,frame,t_s,x_px,y_px,area_px,found             (and x_m,y_m with --scale)
k counts the run's frames from 0 (the seed); frame is the clip's frame number; t_s the
frame's time in seconds from frame 0, in the scene's time (a slow-motion clip's capture
rate is taken into account); x_px and y_px the object's centre in the clip's own pixels,
upright, from the top-left corner of the picture with x to the right and y down (the
first pixel's centre is at 0.5, 0.5); area_px its size in pixels; found 1, or 0 with
the place left empty where the object is not found: out of the picture, cut off by its
edge, hidden, or in a frame that cannot be decoded. A place is never guessed.

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
      --track OUT.csv     Write the moving object's positions to OUT.csv, as above
                          (UTF-8 text, a header row, '.' before decimals); -o may then
                          be left out. OUT.csv is written whole or not at all, as OUT.
      --scale METRES      With --track: the metres one pixel of the clip stands for
                          (0.0016667 for 600 pixels to the metre). Adds x_m and y_m,
                          and the fits are in metres.
      --fit line|parabola|sine
                          With --track: fit the positions found over time and print
                          each quantity with its standard error on standard output:
                          line      the velocities vx and vy
                          parabola  the accelerations ax and ay (y down); with --scale
                                    also g, the size of ay
                          sine      the period and amplitude of the coordinate that
                                    moves most (a pendulum's x)
  -h, --help              Show this text (in Japanese where the locale is Japanese).

Options take their value as the next argument or after '=' (--step=3, -oOUT); "--"
ends the options.

While it runs, a progress bar is shown on standard error when that is a terminal, and
at the end a summary line: frames merged, frames skipped, the time taken and frames per
second.

Exit status:
  0  the composite was written (frames that cannot be decoded may have been skipped)
  2  usage: an unknown or repeated option, a missing or malformed value, no clip or
     no output, an output format no image writer knows, OUT or OUT.csv naming the clip
     itself or both one file, --start or --background past the clip's last frame, a
     background option without --priority difference, --scale or --fit without
     --track, a composite's option without -o, or a background image that cannot be
     read or is not of the clip's size
  3  the clip cannot be opened; with --strict, one of its frames cannot be decoded;
     without, none of the run's frames (or none for the background) can be
  4  the output cannot be written: OUT (or OUT.csv) is a folder, a named pipe, a
     socket or a device (only a regular file or a new name is replaced), its folder is
     missing or not writable, or the disk is full
Every failure is reported as one line on standard error; a run that fails writes
nothing, and a file that cannot be written is left untouched. A replaced file keeps
its permissions. A fit that the positions found cannot support (too few of them) is
told on standard error and does not change the exit status.

Examples: every third frame of the sample, as the window shows it:
  tambrel-compose pendulum.avi -o composite.png --step 3 --as-shown
The sample's period, read off by itself from where the bob is in each frame:
  tambrel-compose pendulum.avi --track pendulum.csv --fit sine
)";

constexpr std::string_view kHelpJapanese =
    R"(使い方: tambrel-compose クリップ -o 出力 [--start N] [--step N] [--count K]
                       [--priority white|black|difference]
                       [--background N | --background-image ファイル]
                       [--as-shown] [--strict] [--verbose] [--memory MIB]
       tambrel-compose クリップ --track 出力.csv [--scale メートル]
                       [--fit line|parabola|sine] [-o 出力] [--start N] [--step N]
                       [--count K] ...

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

--track を付けると、合成するフレームのそれぞれで動く物体を自動で見つけ、その位置を
出力.csv に書きます（-o もあれば合成画像も作ります）。各フレームを何もない場面
（difference と同じ中央値の背景）と比べ、画像自体のノイズより大きく違うところ
（差の度数分布から大津の方法で選んだしきい値）をつながった領域に分け、いつもの大きさ
で、ほかのフレームの領域がつくる道筋の上にある領域を物体とします。小さいもう一つの
物体やちらつき、ノイズを物体と取り違えることはありません。合成するフレームごとに
1 行です:
  k,frame,t_s,x_px,y_px,area_px,found             （--scale があれば x_m,y_m も）
k は合成するフレームを最初の画像から 0、1、2… と数えた番号、frame はクリップの
フレーム番号、t_s はフレーム 0 からの時刻（秒。撮影したときの時間で、スローモー
ションのクリップは撮影速度を考えに入れます）、x_px と y_px はクリップそのものの画素
で表した物体の中心（正立した画像の左上の角から、x は右へ、y は下へ。最初の画素の中心
が 0.5, 0.5）、area_px は物体の面積（画素数）、found は見つかれば 1 です。物体が
画面の外にある、端で欠けている、隠れている、またはフレームが復号できないときは
found が 0 で、位置は空欄です。位置を推測で埋めることはありません。

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
      --track 出力.csv    動く物体の位置を上のとおり 出力.csv に書きます（UTF-8 の
                          テキスト、1 行目は見出し、小数点は '.'）。このときは -o を
                          省けます。出力.csv も、全部書けたときだけ現れます。
      --scale メートル    --track のとき、クリップの 1 画素が表す長さ（メートル。
                          1 m が 600 画素なら 0.0016667）。x_m と y_m を加え、当て
                          はめの結果もメートルで表します。
      --fit line|parabola|sine
                          --track のとき、見つかった位置を時刻に当てはめ、それぞれの
                          量を標準誤差とともに標準出力に表示します:
                          line      直線: 速度 vx と vy
                          parabola  放物線: 加速度 ax と ay（y は下向き）。--scale
                                    があれば重力加速度 g（ay の大きさ）も
                          sine      正弦: いちばん大きく動く座標（振り子なら x）の
                                    周期と振幅
  -h, --help              この説明を表示します（ロケールが日本語なら日本語で）。

オプションの値は次の引数か '=' の後に書きます（--step=3、-o出力）。"--" より後は
オプションとして扱いません。

標準エラーが端末のときは、実行中に進み具合を表示し、最後に要約を 1 行出します（合成
した枚数、飛ばした枚数、かかった時間、1 秒あたりのフレーム数）。

終了ステータス:
  0  合成画像を書き出した（復号できないフレームを飛ばした場合を含む）
  2  使い方の誤り: 不明なオプションや同じオプションの重複、値がないか正しくない、
     クリップか出力の指定がない、出力の形式に対応する書き出しがない、出力か
     出力.csv がクリップそのもの、または二つが同じファイル、--start か --background
     がクリップの最後のフレームより後、背景のオプションに --priority difference が
     ない、--track なしの --scale や --fit、-o なしの合成画像のオプション、背景画像が
     読めないかクリップと大きさが違う
  3  クリップを開けない。--strict のとき、復号できないフレームがある。指定しない
     とき、合成するフレーム（または背景のフレーム）がどれも復号できない
  4  出力に書き込めない: 出力（または 出力.csv）がフォルダー、名前付きパイプ、
     ソケット、デバイスである（置き換えるのは通常のファイルか新しい名前だけ）、
     フォルダーがないか書き込めない、ディスクがいっぱい
失敗はどれも標準エラーに 1 行で知らせます。失敗した処理は何も書かず、書き込めない
ファイルには手を付けません。置き換えたファイルのアクセス権はそのまま残ります。見つ
かった位置が少なすぎて当てはめができないときは標準エラーに知らせ、終了ステータスは
変わりません。

例: サンプルを 3 フレームごとに、ウィンドウに表示されるとおりに合成する:
  tambrel-compose pendulum.avi -o composite.png --step 3 --as-shown
サンプルの周期を、各フレームのおもりの位置から自動で読み取る:
  tambrel-compose pendulum.avi --track pendulum.csv --fit sine
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
    Track,
    Scale,
    Fit,
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
    {"--track", Option::Track, true},
    {"--scale", Option::Scale, true},
    {"--fit", Option::Fit, true},
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
            case Option::Track:
                if (value.empty()) return UsageError{"the name after --track is empty"};
                o.track = std::string(value);
                break;
            case Option::Scale: {
                double metres = 0;
                const auto [end, ec] =
                    std::from_chars(value.data(), value.data() + value.size(), metres);
                if (value.empty() || ec != std::errc() || end != value.data() + value.size() ||
                    !(metres > 0) || !std::isfinite(metres))
                    return UsageError{
                        "--scale needs the metres one pixel of the clip stands "
                        "for, a number above 0 (0.0016667 for 600 pixels to the "
                        "metre), not " +
                        quoted(value)};
                o.scale = metres;
                break;
            }
            case Option::Fit:
                if (value == "line") {
                    o.fit = TrackFit::Line;
                } else if (value == "parabola") {
                    o.fit = TrackFit::Parabola;
                } else if (value == "sine") {
                    o.fit = TrackFit::Sine;
                } else {
                    return UsageError{"--fit needs line, parabola or sine, not " + quoted(value)};
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
    if (o.output.empty() && o.track.empty())
        return UsageError{"no output given: -o OUT, --track OUT.csv or both"};
    // The composite's own options mean nothing to the positions alone.
    if (o.output.empty())
        for (const auto& [option, name] : {std::pair{Option::Priority, "--priority"},
                                           std::pair{Option::Background, "--background"},
                                           std::pair{Option::BackgroundImage, "--background-image"},
                                           std::pair{Option::AsShown, "--as-shown"}})
            if (seen[static_cast<int>(option)])
                return UsageError{std::string(name) + " is for the composite (-o OUT) only"};
    if (o.track.empty() && (o.scale || o.fit))
        return UsageError{std::string(o.scale ? "--scale" : "--fit") + " is for --track only"};
    if (!o.track.empty() && o.track == o.output)
        return UsageError{"--track and -o name the same file '" + o.track + "'"};
    const bool has_background = o.background_frame || !o.background_image.empty();
    if (o.background_frame && !o.background_image.empty())
        return UsageError{"--background and --background-image cannot both be given"};
    if (has_background && o.priority != Priority::Difference)
        return UsageError{std::string(o.background_frame ? "--background" : "--background-image") +
                          " is for --priority difference only"};
    return o;
}

}  // namespace tambrel::compose_cli
