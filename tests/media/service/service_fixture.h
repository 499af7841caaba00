#pragma once
// Shared by the service tests: a QApplication for the whole run, and a service with a
// drawing surface registered as a device-context handle.

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <string>

#include "core/handles.h"
#include "core/surface.h"
#include "media/service/video_device.h"
#include "media/service/command_service.h"
#include "media/service/media_errors.h"
#include "media/service/path_codec.h"

namespace tambrel::media::testing {

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!QApplication::instance()) app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    // Before static destruction begins: Qt's own globals may be gone by then.
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[8] = "test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

inline ::testing::Environment* const qt_environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

struct Answer {
    int32_t rc = 0;
    std::string reply;
};

// A service, a surface with a device-context handle, and helpers to talk to it.
class ServiceHarness {
  public:
    ServiceHarness() : surface(400, 300) { hdc = handles.add_surface(&surface); }

    Answer send(const std::string& command) {
        Answer a;
        a.rc = service.execute(command, a.reply);
        return a;
    }
    static std::string open_command(const std::string& path, const std::string& alias = "avfile") {
        return "open " + encode_command_path(path) + " alias " + alias;
    }
    int64_t number(const std::string& command) {
        const Answer a = send(command);
        EXPECT_EQ(a.rc, 0) << command;
        return a.rc == 0 ? std::stoll(a.reply) : -1;
    }
    int64_t position() { return number("status avfile position"); }
    VideoDevice& device() { return *service.device("avfile"); }

    HandleTable handles;
    CommandService service{handles};
    PictureSurface surface;
    int32_t hdc = 0;
};

}  // namespace tambrel::media::testing
