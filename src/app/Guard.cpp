#include "app/Guard.h"

#include "app/AppLog.h"
#include "boundary/AgentFile.h"
#include "lock/LockState.h"
#include "platform/linux/CrashGuard.h"

#include <algorithm>

namespace pelk::app {

using platform::LockHint;
using namespace std::chrono_literals;

namespace {

// A run shorter than this ended at start rather than in use.
constexpr auto kSettled = 5s;
constexpr std::chrono::milliseconds kFirstPause = 250ms;
constexpr std::chrono::milliseconds kLongestPause = 15s;

// A record that is missing or does not decode leaves the lock as it was, which the guard cannot
// know: it may be held.
LockHint lockHint(const std::optional<QByteArray> &record)
{
    const std::optional<lock::LockState> state = record ? lock::LockState::decode(*record) : std::nullopt;
    if (!state)
        return LockHint::Unknown;
    return state->locked ? LockHint::Locked : LockHint::Unlocked;
}

// When to bring back an application that ended this way, or nothing to let its end stand: only
// an end by a signal (killed, crashed, aborted) while the lock may be held brings it back. At
// once after a run that lasted; after a growing pause when it dies again right after starting, so
// that an application that cannot start costs little, and is still tried while the lock may be held.
class RestartPolicy {
public:
    std::optional<std::chrono::milliseconds> operator()(const platform::ChildEnd &end, LockHint lock);

private:
    std::chrono::milliseconds m_pause { 0 };
};

std::optional<std::chrono::milliseconds> RestartPolicy::operator()(const platform::ChildEnd &end, LockHint lock)
{
    // An exit, with whatever status, is the application's own decision (a second copy at login
    // leaves with 2): bringing it back would only start that decision again and again.
    if (end.signal == 0 || lock == LockHint::Unlocked)
        return std::nullopt;
    m_pause = end.lived >= kSettled ? 0ms : std::clamp(m_pause * 2, kFirstPause, kLongestPause);
    qCWarning(lcApp, "the application was ended by signal %d while the lock may be held; starting it again in %lld ms",
        end.signal, static_cast<long long>(m_pause.count()));
    return m_pause;
}

} // namespace

int runGuarded(char **argv, const QString &lockFilePath)
{
    RestartPolicy policy;
    platform::CrashGuard guard({
        .lock = [&lockFilePath] { return lockHint(boundary::readAgentFile(lockFilePath)); },
        .restartAfter = [&policy](const platform::ChildEnd &end, LockHint lock) { return policy(end, lock); },
    });
    return guard.run(argv);
}

} // namespace pelk::app
