#include "console.h"

#include "simulatedprinter.h"
#include "valuetext.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

Console::Console(SimulatedPrinter &printer, bool keepRunning)
    : m_language(printer)
    , m_input(STDIN_FILENO, QSocketNotifier::Read)
    , m_keepRunning(keepRunning)
{
    connect(&m_input, &QSocketNotifier::activated, this, &Console::readInput);
    connect(&printer, &SimulatedPrinter::called, this,
            [](const QString &service, const QString &method, const QVariantList &arguments) {
                QStringList words{QStringLiteral("call"), service, method};
                for (const QVariant &argument : arguments)
                    words.append(formatValue(argument));
                print(words.join(QLatin1Char(' ')));
            });
    connect(&printer, &SimulatedPrinter::refused, this,
            [](const QString &service, const QString &method, const QString &signature) {
                print(QStringLiteral("refused %1 %2 (%3)").arg(service, method, signature));
            });
}

void Console::print(const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Console::readInput()
{
    char bytes[4096];
    const ssize_t count = ::read(STDIN_FILENO, bytes, sizeof bytes);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return; // the notifier comes back
    if (count <= 0) {
        m_input.setEnabled(false);
        if (!m_keepRunning)
            QCoreApplication::quit();
        return;
    }
    m_pending.append(bytes, int(count));
    int end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromLocal8Bit(m_pending.left(end)).trimmed();
        m_pending.remove(0, end + 1);
        runLine(line);
    }
}

void Console::runLine(const QString &line)
{
    if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
        return;
    if (line == QLatin1String("help")) {
        for (const QString &helpLine : CommandLanguage::help().split(QLatin1Char('\n')))
            print(QStringLiteral("# ") + helpLine);
        print(QStringLiteral("ok"));
        return;
    }
    const QString error = m_language.run(line);
    print(error.isEmpty() ? QStringLiteral("ok") : QStringLiteral("error ") + error);
}
