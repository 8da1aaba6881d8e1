#include "daemonlink.h"

namespace {

const DaemonSettings &prepared(DaemonLink &link, const std::function<void(DaemonLink &)> &prepare)
{
    if (prepare)
        prepare(link);
    return link.settings;
}

} // namespace

DaemonLink::DaemonLink(const std::function<void(DaemonLink &)> &prepare)
    : settings(env.settings(gadget.devicePath()))
    , daemon(prepared(*this, prepare))
{
}
