#include "daemon/brevdaemon.h"
#include "daemon/eventdispatcher.h"

#include <logger.h>

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    // Every block from the host costs one trip through the event loop, and an
    // update one per 256-byte chunk: the daemon's thread runs a dispatcher
    // that makes that trip cheap. The threads Qt starts (D-Bus) use Qt's own
    // poll-based one, cheaper than the GLib one.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication::setEventDispatcher(new EventDispatcher);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("BrevDaemon"));
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("corvane.com"));
    setupLogger();

    Brevdaemon daemon;
    return app.exec();
}
