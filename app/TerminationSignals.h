#pragma once

// Turns SIGTERM, SIGINT and SIGHUP into a queued notice on the GUI thread, so
// that the program can end its event loop and tear down in order (a recording
// being written is finished, sharing and the session are stopped) instead of
// being killed where it stands. The handler only writes the signal number to
// a pipe; a socket notifier reads it on the thread that made the object.
// One object at a time may exist; its destructor puts back the dispositions
// that were in force before it.

#include "UniqueFd.h"

#include <QObject>

#include <array>
#include <csignal>

class QSocketNotifier;

class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // The signals taken over, in this order.
    static constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

    // Installs the handlers. isActive() is false when the pipe or a handler
    // could not be set up (then nothing is changed) or another object is active.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    bool isActive() const { return m_active; }

    // "SIGTERM", "SIGINT", "SIGHUP", else "another signal".
    static const char* nameOf(int signalNumber);

signals:
    // Once per signal delivered (signals that arrive together may be merged
    // by the kernel), on the thread that made the object.
    void received(int signalNumber);

private:
    void drain();

    lagwell::UniqueFd m_readFd;
    lagwell::UniqueFd m_writeFd;
    QSocketNotifier* m_notifier = nullptr;
    std::array<struct sigaction, kSignals.size()> m_previous {};
    bool m_active = false;
};
