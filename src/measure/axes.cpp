// TEMPORARY placeholders, replaced by the scale.
#include "app/form1.h"
namespace tambrel {
void Form1::Form_Activate() {}
void Form1::Cmd_xchange_Click() {}
void Form1::Cmd_ychange_Click() {}
void Form1::draw_axes() {}
}  // namespace tambrel
