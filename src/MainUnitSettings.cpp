// Settings file beside the executable.
#include "MainUnit.h"

void TMainForm::LoadIni(const QString &) {}
void TMainForm::SaveIni(const QString &) {}
