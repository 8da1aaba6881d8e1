#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>

// Drives the sibling-service simulator (tools/simulator, program "brevsim")
// on the private bus: one process that owns "com.corvane.r6",
// "com.corvane.supplyd" and "com.corvane.cvutility", each on a bus
// connection of its own. Short service names: "r6", "supplyd", "cvutility".
//
// The simulator reads one command per line on stdin and answers each with
// "ok" or "error <text>" on stdout, after its effect is on the bus. It also
// prints "call <service> <method> [args...]" for every method call it serves.
class Simulator : public QObject
{
    Q_OBJECT

public:
    explicit Simulator(QObject *parent = nullptr);
    ~Simulator() override;

    // Starts brevsim owning the given services (all three by default) and
    // waits until they are on the bus.
    bool start(const QStringList &services = {});

    // Sends one command and waits for its answer; true on "ok". The commands
    // are brevsim's own ("brevsim --help" lists them).
    bool command(const QString &line);

    // Every "call ..." line seen so far, without the "call " prefix.
    QStringList calls() const { return m_calls; }
    int callCount(const QString &call) const { return m_calls.count(call); }
    void clearCalls() { m_calls.clear(); }

private:
    void readLines();
    bool waitForAnswer();

    QProcess m_process;
    QStringList m_calls;
    QStringList m_answers;
};
