#pragma once

// Where the daemon finds its three sibling services on the system bus: each
// publishes one object at "/" under its bus name. What the object offers
// (interface, signals, methods and their types) is described in
// services/dbus/, from which the daemon's proxies are built; the log name is
// how the daemon's messages call the service.
namespace Services {

constexpr const char *path = "/";

namespace Engine {
constexpr const char *name = "com.corvane.r6";
constexpr const char *logName = "r6d";
} // namespace Engine

namespace Supply {
constexpr const char *name = "com.corvane.supplyd";
constexpr const char *logName = "sid";
} // namespace Supply

namespace Utility {
constexpr const char *name = "com.corvane.cvutility";
constexpr const char *logName = "utilityd";
} // namespace Utility

} // namespace Services
