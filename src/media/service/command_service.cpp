// TEMPORARY: being replaced by the media service proper.
#include "media/service/command_service.h"
#include <cstring>
namespace tambrel::media {
int32_t CommandService::send_string(const char*, char* reply, size_t capacity) {
    if (capacity) reply[0] = 0;
    return 263;
}
bool CommandService::error_string(int32_t, char* text, size_t capacity) {
    std::strncpy(text, "not yet", capacity);
    return true;
}
}  // namespace tambrel::media
