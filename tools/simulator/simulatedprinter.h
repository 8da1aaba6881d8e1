#pragma once

#include "ethernetrecord.h"

#include <QObject>
#include <QVector>

class SimulatedService;

// The three sibling services together, behaving as one printer would:
// a signal that announces a value (a level, the status) makes the matching
// method answer it from then on; "refreshAll" makes the print engine emit
// again the last IDs, UIDs and status it emitted (while refreshing is on);
// "setEthernetConfig" stores its values in the network record and
// "updateEthernetConfig" emits that record.
class SimulatedPrinter : public QObject
{
    Q_OBJECT

public:
    explicit SimulatedPrinter(QObject *parent = nullptr);

    // By short name ("r6", "supplyd", "cvutility"); nullptr for another name.
    SimulatedService *service(const QString &shortName) const;
    QStringList serviceNames() const;

    // Each returns an error text, or an empty one on success.
    QString emitSignal(SimulatedService *service, const QString &signal, const QVariantList &arguments);
    QString announceEthernetRecord(const EthernetRecord &record);

    void setRefreshing(bool refreshing) { m_refreshing = refreshing; }

signals:
    void called(const QString &service, const QString &method, const QVariantList &arguments);
    void refused(const QString &service, const QString &method, const QString &signature);

private:
    void onServed(SimulatedService *service, const QString &method, const QVariantList &arguments);
    void refresh(SimulatedService *engine);
    void report(const QString &error) const;

    QVector<SimulatedService *> m_services;
    EthernetRecord m_ethernetRecord;
    bool m_refreshing = true;
};
