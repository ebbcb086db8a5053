// Command-line switches ("LOG", "LOG_MEASURE", "DEMO") and the paths of the files beside the executable.
#pragma once

#include <QString>
#include <QStringList>

// Whether the command line holds `name` as a switch: with a leading "-", "--" or "/", or as the bare word;
// letter case is ignored.
bool FindCmdLineSwitch(const QString& name);

// Replaces the arguments that FindCmdLineSwitch looks at (the program's own arguments by default).
void SetCommandLine(const QStringList& arguments);

// Full path of the running executable; tests may place it elsewhere.
QString ExecutablePath();
void SetExecutablePath(const QString& path);

// `path` with its extension (the part after the last dot of the file name) replaced by `extension`,
// which includes its dot.
QString ChangeFileExt(const QString& path, const QString& extension);
