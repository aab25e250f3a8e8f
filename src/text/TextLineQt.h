#pragma once
// The window side of text-file lines (see TextFile.h): a line is Latin-1 bytes unless it holds a
// character beyond Latin-1, which keeps it in UTF-8. UI thread only, as every Qt text.
#include "text/TextFile.h"

#include <QString>
#include <string>

// The characters of a line as the operator wrote them.
inline QString TextLineToQt(const std::string& line) {
    const auto size = static_cast<qsizetype>(line.size());
    return FirstBeyondLatin1(line) != 0 ? QString::fromUtf8(line.data(), size)
                                        : QString::fromLatin1(line.data(), size);
}

// The line of a text the operator typed: Latin-1 when every character fits, else UTF-8.
inline std::string TextLineFromQt(const QString& text) {
    for (QChar c : text) {
        if (c.unicode() > 0xFF) return text.toUtf8().toStdString();
    }
    return text.toLatin1().toStdString();
}
