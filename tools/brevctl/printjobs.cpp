#include "printjobs.h"

namespace PrintJobs {

namespace {

constexpr char jobMarker[] = "^K";
constexpr char zMarker[] = "^Z";
constexpr char endMarker[] = "E\r\n";

// The printer's counters for the job being read.
struct JobCount
{
    int endsExpected = 0;
    int endsSeen = 0;
    int zValue = 1;
};

// The position of the next marker at or after `from`, -1 when none.
int nextMarker(const QByteArray &content, int from)
{
    int next = -1;
    for (const char *marker : {jobMarker, zMarker, endMarker}) {
        const int found = content.indexOf(marker, from);
        if (found >= 0 && (next < 0 || found < next))
            next = found;
    }
    return next;
}

// The digit right after a two-byte marker, 0 for any other byte.
int argument(const QByteArray &content, int marker)
{
    const char digit = content.size() > marker + 2 ? content.at(marker + 2) : '\0';
    return digit >= '0' && digit <= '9' ? digit - '0' : 0;
}

QString incompleteJob(const JobCount &count, int jobNumber)
{
    if (count.endsExpected == 0)
        return QStringLiteral("job %1 has no job marker (^K) before its end: the printer would never end it and "
                              "would print it together with whatever comes next")
            .arg(jobNumber);
    if (count.endsSeen < count.endsExpected)
        return QStringLiteral("job %1 starts with ^K5, which ends at the second end marker (E CR LF), but has only "
                              "%2: the printer would take the next file as the rest of this job")
            .arg(jobNumber)
            .arg(count.endsSeen);
    return QStringLiteral("job %1 has an end marker (E CR LF) before its job marker (^K): the printer would never "
                          "end it")
        .arg(jobNumber);
}

} // namespace

Split split(const QByteArray &content)
{
    Split result;
    JobCount count;
    int jobStart = 0;
    for (int marker = nextMarker(content, 0); marker >= 0; marker = nextMarker(content, marker + 2)) {
        if (content.at(marker) == 'E') {
            if (++count.endsSeen != count.endsExpected)
                continue;
            result.jobs.append(content.mid(jobStart, marker + 3 - jobStart));
            jobStart = marker + 3;
            count = {};
        } else if (content.at(marker + 1) == 'Z') {
            count.zValue = argument(content, marker);
        } else if (count.zValue == 0) {
            count.endsExpected = 1;
        } else if (count.endsExpected == 0) {
            count.endsExpected = argument(content, marker) == 5 ? 2 : 1;
        }
    }
    if (jobStart == content.size() && !result.jobs.isEmpty())
        return result;
    if (result.jobs.isEmpty() && count.endsExpected == 0 && count.endsSeen == 0)
        result.problem = QStringLiteral("it holds no print job: a job starts with a job marker (^K1, or ^K5 for a "
                                        "job of two parts) and ends with E CR LF");
    else if (count.endsExpected == 0 && count.endsSeen == 0)
        result.problem = QStringLiteral("%1 bytes follow the end of its last job: the printer would drop them or "
                                        "print them at the start of the next job")
                             .arg(content.size() - jobStart);
    else
        result.problem = incompleteJob(count, result.jobs.size() + 1);
    return result;
}

} // namespace PrintJobs
