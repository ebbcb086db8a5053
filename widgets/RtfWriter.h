// Writing a QTextDocument as RTF that this program and other RTF readers open again as the same document.
#pragma once

#include <QByteArray>

class QTextDocument;

QByteArray WriteRtf(const QTextDocument& document);
