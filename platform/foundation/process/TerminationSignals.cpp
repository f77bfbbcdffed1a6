#include "platform/foundation/process/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace Tickerly::Foundation {

namespace {

// Written by the signal handler, read by the event loop: the only safe way out of a handler.
int signalPipe[2] = { -1, -1 };
constexpr std::array terminationSignals { SIGTERM, SIGINT, SIGHUP };

void heard(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
    // The next one is not caught: a program that hangs while quitting can still be ended.
    struct sigaction fallback { };
    fallback.sa_handler = SIG_DFL;
    for (const int each : terminationSignals)
        ::sigaction(each, &fallback, nullptr);
}

} // namespace

void onTerminationSignals(std::function<void()> onSignal)
{
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("Termination signals are not heard: no pipe");
        return;
    }
    auto* notifier
        = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
        [notifier, onSignal = std::move(onSignal)] {
            char bytes[16];
            while (::read(signalPipe[0], bytes, sizeof bytes) > 0) { }
            notifier->setEnabled(false);
            if (onSignal)
                onSignal();
        });
    struct sigaction action { };
    action.sa_handler = heard;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int each : terminationSignals)
        ::sigaction(each, &action, nullptr);
}

} // namespace Tickerly::Foundation
