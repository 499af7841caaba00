#pragma once
// The window as the program starts it, with a fake platform and a chosen media service.

#include <memory>

#include "app/form1.h"
#include "core/handles.h"
#include "support/fake_platform.h"
#include "support/fake_media_service.h"

namespace tambrel::testing {

template <typename Service = FakeMediaService>
struct FormFixture {
    HandleTable handles;
    FakePlatform platform;
    Service service{&handles};
    std::unique_ptr<Form1> form;

    FormFixture() {
        form = std::make_unique<Form1>(platform, service, handles);
        form->start();
    }
};

}  // namespace tambrel::testing
