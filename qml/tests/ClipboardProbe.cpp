#include "ClipboardProbe.h"

#include <QGuiApplication>

ClipboardProbe::ClipboardProbe(QString peekProgram, QObject* parent)
    : QObject(parent)
    , m_peekProgram(std::move(peekProgram))
{
}

ClipboardProbe::~ClipboardProbe()
{
    stopOwner();
    if (m_reader) {
        m_reader->kill();
        m_reader->waitForFinished(3000);
    }
}

void ClipboardProbe::startRead()
{
    m_readDone = false;
    m_readHadText = false;
    m_readText.clear();
    emit changed();
    m_reader = std::make_unique<QProcess>();
    m_reader->setProcessChannelMode(QProcess::SeparateChannels);
    connect(m_reader.get(), &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        m_readHadText = status == QProcess::NormalExit && exitCode == 0;
        m_readText = QString::fromUtf8(m_reader->readAllStandardOutput());
        m_readDone = true;
        emit changed();
    });
    m_reader->start(m_peekProgram, {QStringLiteral("get")});
}

void ClipboardProbe::startOwner(const QString& text)
{
    launchOwner({QStringLiteral("own-text"), text});
}

void ClipboardProbe::startImageOwner()
{
    launchOwner({QStringLiteral("own-image")});
}

void ClipboardProbe::launchOwner(const QStringList& arguments)
{
    stopOwner();
    m_owner = std::make_unique<QProcess>();
    connect(m_owner.get(), &QProcess::readyReadStandardOutput, this, [this] {
        if (m_owner->readAllStandardOutput().contains("ready")) {
            m_ownerReady = true;
            emit changed();
        }
    });
    m_owner->start(m_peekProgram, arguments);
}

void ClipboardProbe::stopOwner()
{
    if (!m_owner)
        return;
    m_owner->closeWriteChannel();
    if (!m_owner->waitForFinished(5000))
        m_owner->kill();
    m_owner.reset();
    m_ownerReady = false;
    emit changed();
}

QString ClipboardProbe::platformName() const
{
    return QGuiApplication::platformName();
}
