#pragma once
// Why a run of an engine over a clip's frames (a composite, a track) ended without
// its result.

#include <string>

namespace tambrel::compose {

struct RunFailure {
    enum class Kind {
        Open,       // the clip cannot be opened
        Plan,       // a frame asked for is not in the clip; a background picture of
                    // another size than the clip's
        Decode,     // a frame cannot be decoded under strict, none of the run's can, or
                    // the background cannot be made
        Memory,     // no room for the pictures
        Cancelled,  // the caller said so
    };
    Kind kind = Kind::Open;
    std::string message;  // one line
};

}  // namespace tambrel::compose
