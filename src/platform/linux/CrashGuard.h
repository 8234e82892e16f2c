#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <optional>

namespace pelk::platform {

// How the guarded process ended, and after how long.
struct ChildEnd {
    int signal = 0; // the signal that ended it, or 0 when it exited
    int exitCode = 0;
    std::chrono::milliseconds lived { 0 };
};

// The lock as the guard sees it: only a record that decodes as unlocked lets a crash go.
enum class LockHint { Unlocked, Unknown, Locked };

// A small process that holds no GUI state, runs the real application as its child (this same
// program, marked through the environment) and brings it back when it dies while locked: a
// killed or crashed lock must not leave the desktop open. While a restart is due and the lock
// record says locked, it covers every screen with a plain window of its own (on Wayland, where
// it can draw none, it has logind lock the session).
class CrashGuard {
public:
    struct Policy {
        std::function<LockHint()> lock;
        // Nothing: let the child's end stand and end with its status; otherwise start it again
        // after that long.
        std::function<std::optional<std::chrono::milliseconds>(const ChildEnd &, LockHint)> restartAfter;
    };

    explicit CrashGuard(Policy policy);

    // True in the guarded child, where the mark is then removed so that the programs it
    // starts do not inherit it.
    static bool isGuardedChild();
    // Runs the child with these arguments until it ends for good; its exit status.
    int run(char **argv);

private:
    struct Display;

    pid_t spawn(char **argv) const;
    // Asks logind to lock this session (dbus-send); the process doing it.
    pid_t lockSession() const;
    void lowerOwnOomScore();

    Policy m_policy;
    sigset_t m_childMask {};
    int m_childOomScore = 0;
};

} // namespace pelk::platform
