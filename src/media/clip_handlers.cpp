// TEMPORARY placeholders, replaced by the open/close and transport handlers.
#include "app/form1.h"
namespace tambrel {
void Form1::mnuopen_Click() {}
void Form1::mnuclose_Click() {}
void Form1::Command1_Click() {}
void Form1::Command2_Click() {}
void Form1::Command3_Click() {}
void Form1::Command4_Click() {}
void Form1::Cmd_Reserve_Click() {}
void Form1::HScroll1_Scroll() {}
void Form1::Timer1_Timer() {}
}  // namespace tambrel
