// Tool and menu pictures from the program's SVG artwork, in normal, hot and disabled variants.
#pragma once

#include <QIcon>
#include <QString>

// The icon of ":/icons/<name>.svg" at `size` pixels: normal, a brighter hot (Active) and a grey disabled
// variant.
QIcon ToolIcon(const QString& name, int size = 24);
