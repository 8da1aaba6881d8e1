#pragma once

// Installs the process's Qt message handler: one line per message on
// standard error, with a time stamp and the level.
void setupLogger();
