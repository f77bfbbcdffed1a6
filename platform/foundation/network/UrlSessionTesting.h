#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QString>

namespace Tickerly::Foundation {

// Test hooks of the URL sessions. Tests name any host they like ("https://news.example.test")
// and have it answered by a loopback server: the request keeps its URL and Host header, only
// the connection goes to 127.0.0.1. Safe from any thread; applies to transfers that start later.
namespace UrlSessionTesting {

// Connects every request for (scheme, host, port) to 127.0.0.1:`loopbackPort` over plain HTTP,
// also for "https" (the loopback servers speak HTTP). `port` is the URL's port, or the scheme's
// default when the URL names none.
TICKERLYFOUNDATION_EXPORT void mapToLoopback(
    const QString& scheme, const QString& host, int port, int loopbackPort);
TICKERLYFOUNDATION_EXPORT void removeLoopbackMappings();

// Trusts the certificates of the PEM file `pemFile` instead of the system's (a throwaway
// certificate of a loopback HTTPS server); empty: the system's again.
TICKERLYFOUNDATION_EXPORT void trustCertificates(const QString& pemFile);

// Maps the hosts a file names, one a line: "<host>[:<port>] <loopback port>" (both schemes; a
// host without a port at the schemes' default ports). Returns false when the file cannot be read
// or a line is not understood; the other lines still apply. In test builds a program reads the
// file named by TICKERLY_TEST_HOST_MAP before its first request, so a test can point the real
// programs at its loopback world from outside.
TICKERLYFOUNDATION_EXPORT bool mapHostsFromFile(const QString& path);

// Closes the connections kept open for reuse (when no transfer runs), so a test's server can
// stop at once instead of waiting out its keep-alive time. Returns when done.
TICKERLYFOUNDATION_EXPORT void closeIdleConnections();

// When on, a connection to any address that is not loopback is refused (the task fails with
// CannotConnectToHost) and no proxy is used. On from the start when the environment variable
// TICKERLY_LOOPBACK_ONLY is set, as the test programs do.
TICKERLYFOUNDATION_EXPORT void setLoopbackOnly(bool on);
TICKERLYFOUNDATION_EXPORT bool isLoopbackOnly();

// Divides the body cap (UrlRequest::maximumBodySize) of every task made from now on by `divisor`
// (1: the caps as requested), so that a test shows a cap with a tenth of the bytes.
TICKERLYFOUNDATION_EXPORT void divideBodyLimits(int divisor);

// How many transfers run at once in a process that may open `descriptors` files (negative: no
// limit), and a limit to use instead in this process (0: the process's own again).
TICKERLYFOUNDATION_EXPORT int transferLimitFor(qint64 descriptors);
TICKERLYFOUNDATION_EXPORT void setMaximumTransfers(int limit);

// The answers kept in memory for reuse: forgets them all; bounds them to `bytes` (negative: the
// usual bound); how many bytes they take; and moves the time by which their age is counted
// `seconds` on, so that a test sees them age without waiting.
TICKERLYFOUNDATION_EXPORT void clearCache();
TICKERLYFOUNDATION_EXPORT void setCacheCapacity(qint64 bytes);
TICKERLYFOUNDATION_EXPORT qint64 cacheSize();
TICKERLYFOUNDATION_EXPORT void moveCacheClock(qint64 seconds);

// How many rounds the network thread's loop has made since the process started: each waits for
// a socket, a command or the nearest deadline. A loop that never waits makes thousands a second.
TICKERLYFOUNDATION_EXPORT quint64 networkLoopRounds();

} // namespace UrlSessionTesting

} // namespace Tickerly::Foundation
