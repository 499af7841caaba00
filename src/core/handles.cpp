#include "core/handles.h"

namespace tambrel {

int32_t HandleTable::add_window(QWidget* window) {
    const int32_t h = next_;
    next_ += 2;
    windows_[h] = window;
    return h;
}

int32_t HandleTable::add_surface(PictureSurface* surface) {
    const int32_t h = next_ + 1;
    next_ += 2;
    surfaces_[h] = surface;
    return h;
}

void HandleTable::remove(int32_t handle) {
    windows_.erase(handle);
    surfaces_.erase(handle);
}

QWidget* HandleTable::window(int32_t handle) const {
    const auto it = windows_.find(handle);
    return it == windows_.end() ? nullptr : it->second.data();
}

PictureSurface* HandleTable::surface(int32_t handle) const {
    const auto it = surfaces_.find(handle);
    return it == surfaces_.end() ? nullptr : it->second;
}

}  // namespace tambrel
