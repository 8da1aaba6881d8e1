#include "interruption.h"

#include <csignal>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t interruptions = 0;

void onSignal(int)
{
    interruptions = interruptions + 1;
}

} // namespace

namespace Interruption {

void catchSignals()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked poll or write returns EINTR
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

int count()
{
    return interruptions;
}

} // namespace Interruption
