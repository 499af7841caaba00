#include "media/service/media_errors.h"

namespace tambrel::media {

// The user reads these in the window's message box: Japanese as the rest of the window,
// each with a short English gloss. All stay well inside the 256-byte reply buffer.
std::string_view error_text(int32_t number) {
    switch (static_cast<MediaError>(number)) {
        case MediaError::UnknownCommand:
            return "メディアコマンドを認識できません。(unknown media command)";
        case MediaError::BadParameter:
            return "コマンドのパラメーターが足りないか、正しくありません。(missing or invalid "
                   "parameter)";
        case MediaError::OutOfRange:
            return "コマンドのパラメーターが範囲外です。(parameter out of range)";
        case MediaError::NotOpen:
            return "その別名で開いているデバイスはありません。(no device open under that alias)";
        case MediaError::AliasInUse:
            return "その別名はすでに開いているデバイスが使っています。(alias already in use)";
        case MediaError::FileNotFound:
            return "ファイルが見つからないか、読み込めません。(file not found or unreadable)";
        case MediaError::NotPlayable:
            return "再生できるAVIファイルではありません。(not a playable AVI file)";
        case MediaError::UnknownHandle:
            return "ウィンドウまたはデバイスコンテキストのハンドルが不明です。(unknown window or "
                   "device-context handle)";
        case MediaError::DecodeFailed:
            return "このフレームをデコードできません。ファイルが壊れている可能性があります。(frame "
                   "cannot be decoded; the file may be damaged)";
        case MediaError::NoMemory:
            return "画像が大きすぎて、使えるメモリーに収まりません。(the pictures do not fit in the "
                   "memory allowed)";
        case MediaError::TooManyDevices:
            return "同時に開けるファイルの数を超えています。ほかのファイルを閉じてください。(too many "
                   "clips open at once)";
        case MediaError::None:
            break;
    }
    return {};
}

}  // namespace tambrel::media
