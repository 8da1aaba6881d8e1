#pragma once

#include "commandlanguage.h"

#include <QObject>
#include <QSocketNotifier>

class SimulatedPrinter;

// Reads commands from standard input, one per line, and answers each with
// "ok" or "error <text>" on standard output once it has taken effect. Also
// shows every served method call as "call <service> <method> [<args>]" and
// every call with wrong argument types as "refused <service> <method> (<types>)".
class Console : public QObject
{
    Q_OBJECT

public:
    // At the end of the input the program quits, unless `keepRunning`.
    Console(SimulatedPrinter &printer, bool keepRunning);

    static void print(const QString &line);

private:
    void readInput();
    void runLine(const QString &line);

    CommandLanguage m_language;
    QSocketNotifier m_input;
    QByteArray m_pending;
    bool m_keepRunning;
};
