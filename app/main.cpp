#include "daemon/brevdaemon.h"

#include <logger.h>

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    // Every block from the host costs one trip through the event loop, and an
    // update one per 256-byte chunk: Qt's own poll-based dispatcher makes that
    // trip cheaper than the GLib one. It must be chosen before the
    // application exists.
    qputenv("QT_NO_GLIB", "1");

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("BrevDaemon"));
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("corvane.com"));
    setupLogger();

    Brevdaemon daemon;
    return app.exec();
}
