#pragma once
// The window as the program starts it, with a fake platform and a chosen media service.

#include <memory>
#include <type_traits>

#include "window/form1.h"
#include "core/handles.h"
#include "support/fake_media_service.h"
#include "support/fake_platform.h"

namespace tambrel::testing {

// The real service takes the handle table by reference, the fake one by pointer.
template <typename Service>
Service service_for(HandleTable& handles) {
    if constexpr (std::is_constructible_v<Service, const HandleTable&>)
        return Service(handles);
    else
        return Service(&handles);
}

template <typename Service = FakeMediaService>
struct FormFixture {
    HandleTable handles;
    FakePlatform platform;
    Service service = service_for<Service>(handles);
    std::unique_ptr<Form1> form;

    FormFixture() {
        form = std::make_unique<Form1>(platform, service, handles);
        form->start();
    }
};

}  // namespace tambrel::testing
