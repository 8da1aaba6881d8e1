#pragma once

#include <QByteArray>

// Print data free of job markers, with the control bytes a raw link must pass.
QByteArray printData(int size);

// "^Z1^K5": a job that ends at its second end marker.
QByteArray twoMarkerJob();
