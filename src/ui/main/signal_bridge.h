#pragma once
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace tn::ui {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the UI thread (self-pipe), so that the
// program ends through its orderly shutdown with the final save.
class CSignalBridge : public QObject {
    Q_OBJECT
public:
    explicit CSignalBridge(QObject* parent = nullptr);
    ~CSignalBridge() override;
    bool installed() const { return m_notifier != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    void readPipe();
    QSocketNotifier* m_notifier = nullptr;
};

// A last chance to save when the process is ended from inside a library (the display connection
// broke at the end of the desktop session and the toolkit calls exit()). The hook runs once, on
// that exit, and then ends the process with exit code 0.
void setEmergencyExitHook(std::function<void()> hook);
void clearEmergencyExitHook();

} // namespace tn::ui
