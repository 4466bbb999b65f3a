#include "ClipboardHelper.h"

#include <QClipboard>
#include <QGuiApplication>

ClipboardHelper::ClipboardHelper(QObject* parent)
    : QObject(parent)
{
}

ClipboardHelper* ClipboardHelper::create(QQmlEngine*, QJSEngine*)
{
    return new ClipboardHelper();
}

void ClipboardHelper::putEmptyText()
{
    QGuiApplication::clipboard()->setText(QString(), QClipboard::Clipboard);
}
