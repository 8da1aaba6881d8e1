#pragma once

#include "daemon/brevdaemon.h"
#include "fakegadget.h"
#include "testenv.h"

#include <functional>

// The daemon under test on a fake gadget, in a scratch world, with its log
// collected.
struct DaemonLink
{
    // `prepare` runs before the daemon is built: it may change `settings`
    // and set up `env`.
    explicit DaemonLink(const std::function<void(DaemonLink &)> &prepare = nullptr);

    TestEnv env;
    FakeGadget gadget;
    LogCapture log;
    DaemonSettings settings;
    Brevdaemon daemon;
};
