#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

class SimulatedPrinter;
class SimulatedService;

// The simulator's commands, one per line; see help() for the list.
class CommandLanguage
{
public:
    explicit CommandLanguage(SimulatedPrinter &printer);

    // Carries out one command; returns an error text, or an empty one once
    // its effect is on the bus.
    QString run(const QString &line);

    static QString help();

    // Splits a line at blanks; "..." keeps blanks inside one word, and ""
    // is an empty word.
    static QStringList splitWords(const QString &line);

private:
    QString reply(const QStringList &words);
    QString replyAs(const QStringList &words);
    QString fail(const QStringList &words);
    QString hang(const QStringList &words);
    QString emitSignal(const QStringList &words);
    QString startOrStop(const QStringList &words);
    QString refresh(const QStringList &words);

    QString findService(const QString &name, SimulatedService *&service) const;
    // Checks the word count of a command on a method and finds the method's
    // service (words 1 and 2).
    QString findMethod(const QStringList &words, int least, int most, const char *usage,
                       SimulatedService *&service) const;
    static QString answerWith(SimulatedService *service, const QString &method, const QVariant &value);
    QString emitEthernetRecord(const QStringList &fields);

    SimulatedPrinter &m_printer;
};
