#include "RecordingPaths.h"

#include <QFileInfo>

namespace {

bool isTaken(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

}  // namespace

RecordingPaths::RecordingPaths(QObject* parent)
    : QObject(parent)
{
}

RecordingPaths* RecordingPaths::create(QQmlEngine*, QJSEngine*)
{
    return new RecordingPaths();
}

QString RecordingPaths::unusedPath(const QString& path) const
{
    if (path.isEmpty())
        return QString();
    if (!isTaken(path))
        return path;

    const qsizetype nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    // A dot in a directory name, or a leading dot of a hidden file, starts no extension.
    if (dot <= nameStart)
        dot = path.size();
    const QString stem = path.left(dot);
    const QString extension = path.mid(dot);
    for (int number = 2; number <= kMaxNumber; ++number) {
        const QString candidate = stem + QStringLiteral(" (%1)").arg(number) + extension;
        if (!isTaken(candidate))
            return candidate;
    }
    return QString();
}
