// Repeat job: the watchdog over the device's counter register.
#include "MainUnit.h"

void TMainForm::cbRepeatJobClick(QObject *) {}
void TMainForm::Timer1Timer(QObject *) {}
