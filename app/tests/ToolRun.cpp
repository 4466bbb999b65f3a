#include "ToolRun.h"

#include <QProcess>

ToolRun runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    ToolRun result;
    if (!process.waitForStarted() || !process.waitForFinished(120000))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}
