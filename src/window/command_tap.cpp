#include "window/command_tap.h"

#include <cstring>
#include <string>

namespace tambrel {

int32_t CommandTap::send_string(const char* command, char* reply, size_t capacity) {
    const int32_t rc = service_.send_string(command, reply, capacity);
    if (listener) {
        // The listener may outlive neither buffer: give it copies' views for the call.
        const std::string sent(command ? command : "");
        std::string answer;
        if (rc == 0 && reply && capacity) answer.assign(reply, strnlen(reply, capacity));
        listener(sent, rc, answer);
    }
    return rc;
}

}  // namespace tambrel
