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

    // Sends one command and waits for its answer; true on "ok". Commands:
    //   reply <service> <method> <value>   method's reply from now on
    //   fail <service> <method>            method answers with an error
    //   hang <service> <method>            method never answers
    //   emit <service> <signal> [args...]  emits a signal; args by signal:
    //       R6_Error <int>; R6_R6SupplyID|R6_R6SupplyUID|R6_R6Ribbon1UID|
    //       R6_R6Ribbon2UID <text>; R6_R6RibbonIDs <id>[,<id>...] (none: empty
    //       list); R6_PrintQueueComplete; R6_PrintQueueFull;
    //       SUPPLYD_*PercentChanged <double>;
    //       onEthernetConfigChanged <int> <t1> <t2> <t3> <t4> <t5> (a text "-"
    //       is a null string) or onEthernetConfigChanged hex:<bytes as hex>
    //   stop <service>                     leaves the bus
    //   start <service>                    takes its name again
    //   replyas <service> <method> <type>|none [<value>]
    //                                      reply of any basic D-Bus type, or none
    //   refresh on|off                     whether "refreshAll" re-emits the last
    //                                      emitted status, IDs and UIDs (on at start)
    // Emitting R6_Error or a SUPPLYD_* level also sets the reply of getError
    // or of the level's method. Words with blanks go in double quotes.
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
