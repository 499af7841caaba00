// TEMPORARY placeholders, replaced by the pointer read-out.
#include "app/form1.h"
namespace tambrel {
void Form1::Picture3_MouseDown(Qt::MouseButtons, Qt::KeyboardModifiers, float, float) {}
void Form1::Picture3_MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, float, float) {}
void Form1::Picture3_MouseUp(Qt::MouseButtons, Qt::KeyboardModifiers, float, float) {}
}  // namespace tambrel
