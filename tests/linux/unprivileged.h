// Runs a piece of work as a user without privileges, so file modes mean something even when the
// tests run as root: as root the work runs in a forked child that switched to `nobody` (65534);
// as anyone else it runs in this process.
#ifndef UNPRIVILEGED_H
#define UNPRIVILEGED_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <functional>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace unprivileged {

constexpr uid_t NobodyId = 65534;
constexpr int ChildBoundMs = 20000;

inline bool isRoot()
{
    return ::geteuid() == 0;
}

// The user the work runs as: ourselves, or nobody when we are root.
inline uid_t workUid()
{
    return isRoot() ? NobodyId : ::geteuid();
}
inline gid_t workGid()
{
    return isRoot() ? gid_t(NobodyId) : ::getegid();
}

// Returns false with why set when no unprivileged process could be had.
inline bool run(const std::function<QByteArray()>& work, QByteArray& output, QString& why)
{
    if (!isRoot()) {
        output = work();
        return true;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        why = QStringLiteral("pipe failed: %1").arg(errno);
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        why = QStringLiteral("fork failed: %1").arg(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        ::close(fds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(NobodyId) != 0 || ::setuid(NobodyId) != 0) {
            const char refused[] = "\x01setuid refused";
            (void)!::write(fds[1], refused, sizeof refused - 1);
            ::_exit(2);
        }
        const QByteArray result = work();
        const char* p = result.constData();
        qsizetype left = result.size();
        while (left > 0) {
            const ssize_t n = ::write(fds[1], p, size_t(left));
            if (n <= 0)
                ::_exit(3);
            p += n;
            left -= n;
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    output.clear();
    QElapsedTimer timer;
    timer.start();
    bool timedOut = false;
    for (;;) {
        const int left = ChildBoundMs - int(timer.elapsed());
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd pfd{fds[0], POLLIN, 0};
        const int r = ::poll(&pfd, 1, left);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            timedOut = r == 0;
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        output.append(buffer, int(n));
    }
    ::close(fds[0]);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) {
        why = QStringLiteral("the unprivileged child did not finish within %1 ms").arg(ChildBoundMs);
        return false;
    }
    if (output.startsWith('\x01')) {
        why = QString::fromLatin1(output.mid(1));
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        why = QStringLiteral("the unprivileged child failed (status %1)").arg(status);
        return false;
    }
    return true;
}

} // namespace unprivileged

// Runs work unprivileged into output (a QByteArray); skips only when no switch of user is possible.
#define RUN_UNPRIVILEGED(work, output)                                                                       \
    do {                                                                                                     \
        QString why_;                                                                                        \
        if (!unprivileged::run(work, output, why_)) {                                                        \
            if (why_.startsWith(QLatin1String("setuid refused")))                                            \
                QSKIP("running as root and cannot switch to user nobody (setuid refused)");                  \
            QFAIL(qPrintable(why_));                                                                         \
        }                                                                                                    \
    } while (false)

#endif
