#pragma once

// Runs a helper program (ffprobe, ffmpeg) to its end and keeps its output.

#include <QString>
#include <QStringList>

struct ToolRun {
    int exitCode = -1; // -1: did not start, crashed or took longer than two minutes
    QString out;
    QString err;
};

ToolRun runTool(const QString& program, const QStringList& arguments);
