#include "app/SignalQuit.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvane::app {

namespace {

int g_fds[2] = {-1, -1};  // [0] written by the handler, [1] read on the GUI thread
const int kSignals[] = {SIGINT, SIGTERM};

// Async-signal-safe: one write of the signal number, errno kept.
extern "C" void OnSignal(int sig) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &byte, 1);
    errno = saved;
}

}  // namespace

SignalQuit::SignalQuit(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) != 0) {
        std::perror("quorvane: socketpair (SIGINT and SIGTERM will end the program at once)");
        return;
    }
    // Neither end may block: a handler must never wait, and the reader drains
    // whatever is there.
    for (int fd : g_fds) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    notifier_ = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Read(); });

    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals) ::sigaction(sig, &sa, nullptr);
}

SignalQuit::~SignalQuit() {
    for (int sig : kSignals) std::signal(sig, SIG_DFL);
    delete notifier_;
    for (int& fd : g_fds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void SignalQuit::Read() {
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(g_fds[1], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            signalled_ = true;
            if (onSignal_) onSignal_(bytes[i]);
        }
    }
}

}  // namespace quorvane::app
