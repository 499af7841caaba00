#pragma once
// Plain 32-bit handles for windows and device contexts, as media commands carry them
// ("style child parent 12345", "hdc 12346"). The table never owns what it names.

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <map>

namespace tambrel {

class PictureSurface;

class HandleTable {
public:
    int32_t add_window(QWidget* window);
    int32_t add_surface(PictureSurface* surface);
    void remove(int32_t handle);

    // nullptr when the handle is unknown (or its window has been destroyed).
    QWidget* window(int32_t handle) const;
    PictureSurface* surface(int32_t handle) const;

private:
    int32_t next_ = 0x10010;  // arbitrary positive start, far from small numbers
    std::map<int32_t, QPointer<QWidget>> windows_;
    std::map<int32_t, PictureSurface*> surfaces_;
};

}  // namespace tambrel
