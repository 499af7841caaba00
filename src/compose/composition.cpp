// TEMPORARY placeholders, replaced by the composition run.
#include "app/form1.h"
namespace tambrel {
void Form1::CmdGosei_Click() {}
void Form1::Cmdgouseistop_Click() {}
void Form1::Command6_Click() {}
void Form1::paced_advance(int16_t) {}
void Form1::blend_pass() {}
}  // namespace tambrel
