// The export menu of the main window.
#include "form1.h"

void Form1::PushButton11_Click() {}

void Form1::subMenuExcel_Click() {}

void Form1::subMenuPDF_Click() {}
