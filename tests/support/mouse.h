#pragma once
// Pointer events as the window system delivers them to a picture's client area. Drags
// need real QMouseEvents: QTest::mouseMove carries no held buttons.

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

namespace tambrel::testing {

inline void send_mouse(QWidget* target, QEvent::Type type, QPointF pos,
                       Qt::MouseButton button = Qt::NoButton,
                       Qt::MouseButtons held = Qt::NoButton) {
    QMouseEvent e(type, pos, target->mapToGlobal(pos), button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &e);
}
inline void press(QWidget* target, QPointF pos, Qt::MouseButton button = Qt::LeftButton) {
    send_mouse(target, QEvent::MouseButtonPress, pos, button, button);
}
inline void release(QWidget* target, QPointF pos, Qt::MouseButton button = Qt::LeftButton) {
    send_mouse(target, QEvent::MouseButtonRelease, pos, button, Qt::NoButton);
}
inline void move(QWidget* target, QPointF pos, Qt::MouseButtons held = Qt::NoButton) {
    send_mouse(target, QEvent::MouseMove, pos, Qt::NoButton, held);
}

}  // namespace tambrel::testing
