#pragma once
// A media service for window tests: records every command, answers from a script, and
// carries out "update <alias> hdc <handle>" by drawing a test frame into the surface.

#include <QImage>
#include <QPainter>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/handles.h"
#include "core/surface.h"
#include "media/service/media_service.h"

namespace tambrel::testing {

class FakeMediaService : public media::MediaService {
public:
    explicit FakeMediaService(const HandleTable* handles = nullptr) : handles_(handles) {}

    std::vector<std::string> commands;
    // Replies and codes by exact command text; commands not listed succeed with no reply.
    std::map<std::string, std::pair<int32_t, std::string>> script;
    // Optional hook that decides the answer (return true when it did).
    std::function<bool(const std::string&, int32_t&, std::string&)> handler;
    // Drawn by "update": frame(position) scaled into the surface's target.
    std::function<QImage(int)> frame;
    int position = 0;
    // Where "update" draws: the last "put <alias> destination at X Y W H", at first the
    // whole of Picture1's inner area.
    QRect destination{0, 0, 316, 236};
    std::map<int32_t, std::string> error_texts = {{1, "fake error"}};

    int count(const std::string& command) const {
        int n = 0;
        for (const auto& c : commands) n += c == command;
        return n;
    }

    int32_t send_string(const char* command, char* reply, size_t capacity) override {
        const std::string c(command);
        commands.push_back(c);
        int32_t rc = 0;
        std::string answer;
        if (handler && handler(c, rc, answer)) {
        } else if (auto it = script.find(c); it != script.end()) {
            rc = it->second.first;
            answer = it->second.second;
        } else if (c == "step avfile") {
            ++position;
        } else if (c.rfind("put avfile destination at ", 0) == 0) {
            std::istringstream numbers(c.substr(26));
            int x = 0, y = 0, w = 0, h = 0;
            if (numbers >> x >> y >> w >> h) destination = QRect(x, y, w, h);
        } else if (c.rfind("update avfile hdc ", 0) == 0 && handles_ && frame) {
            auto* surface = handles_->surface(std::stoi(c.substr(18)));
            if (!surface) return 1;
            QImage& target = surface->target();
            QPainter p(&target);
            p.drawImage(destination, frame(position));
            p.end();
            surface->target_changed();
        }
        if (rc == 0 && capacity) {
            std::strncpy(reply, answer.c_str(), capacity - 1);
            reply[capacity - 1] = 0;
        }
        return rc;
    }
    bool error_string(int32_t code, char* text, size_t capacity) override {
        auto it = error_texts.find(code);
        if (it == error_texts.end()) return false;
        std::strncpy(text, it->second.c_str(), capacity - 1);
        text[capacity - 1] = 0;
        return true;
    }

private:
    const HandleTable* handles_;
};

}  // namespace tambrel::testing
