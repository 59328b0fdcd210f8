// Placeholder until the reader and writer land.
#include "IniFile.h"
#include "IntText.h"

#include <stdexcept>

namespace ini {

TIniFile::TIniFile(const QString &fileName) : m_fileName(fileName) {}
QString TIniFile::ReadString(const QString &, const QString &, const QString &def) const { return def; }
int32_t TIniFile::ReadInteger(const QString &, const QString &, int32_t def) const { return def; }
void TIniFile::WriteString(const QString &, const QString &, const QString &) {}
void TIniFile::WriteInteger(const QString &, const QString &, int32_t) {}
void TIniFile::UpdateFile() {}

} // namespace ini
