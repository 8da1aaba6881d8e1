#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Cutting a print file into the jobs the printer will see. The printer ends
// a job where its markers say, drops what follows that end in the same read
// and then stops reading until the job is printed; so the host sends one
// job at a time and waits in between, and a file that is not whole jobs
// would lose data or run into the next file.
namespace PrintJobs {

struct Split
{
    QList<QByteArray> jobs;
    QString problem; // why the file is not whole jobs; empty when it is
};

// Counts the markers as the printer does: the first "^K" of a job decides
// how many end markers ("E" CR LF) end it, two after "^K5", else one; a
// "^Z0" before it makes every "^K" a one-end job.
Split split(const QByteArray &content);

} // namespace PrintJobs
