// TEMPORARY placeholders, replaced by segment tracing.
#include "app/form1.h"
namespace tambrel {
void Form1::Picture2_MouseDown(Qt::MouseButtons, Qt::KeyboardModifiers, float, float) {}
void Form1::Picture2_MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, float, float) {}
}  // namespace tambrel
