#pragma once

// Test helper published to the clipboard test document as `clipboardProbe`:
// reads the system clipboard from another process, or has another process
// own it, so copies and pastes cross the real window system.

#include <QObject>
#include <QProcess>
#include <QString>

#include <memory>

class ClipboardProbe : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool readDone READ readDone NOTIFY changed)
    Q_PROPERTY(bool readHadText READ readHadText NOTIFY changed)
    Q_PROPERTY(QString readText READ readText NOTIFY changed)
    Q_PROPERTY(bool ownerReady READ ownerReady NOTIFY changed)

public:
    explicit ClipboardProbe(QString peekProgram, QObject* parent = nullptr);
    ~ClipboardProbe() override;

    bool readDone() const { return m_readDone; }
    bool readHadText() const { return m_readHadText; }
    QString readText() const { return m_readText; }
    bool ownerReady() const { return m_ownerReady; }

    // Starts another process that reads the clipboard; readDone turns true
    // when it has finished. Returns at once, so this process can serve the
    // clipboard while the other one asks for it.
    Q_INVOKABLE void startRead();
    // Starts another process that takes the clipboard with `text`, or with a
    // picture and no text when `text` is null; ownerReady turns true once it has.
    Q_INVOKABLE void startOwner(const QString& text);
    Q_INVOKABLE void startImageOwner();
    Q_INVOKABLE void stopOwner();
    // The window system in use ("xcb" under X11/Xvfb).
    Q_INVOKABLE QString platformName() const;

signals:
    void changed();

private:
    void launchOwner(const QStringList& arguments);

    QString m_peekProgram;
    std::unique_ptr<QProcess> m_reader;
    std::unique_ptr<QProcess> m_owner;
    bool m_readDone = false;
    bool m_readHadText = false;
    QString m_readText;
    bool m_ownerReady = false;
};
