// The enrollment import of AgentModel: choosing a file, then handing it to the device helper.

#include "agent/AgentModel.h"

#include "agent/EnrollmentImport.h"
#include "boundary/PrivateFile.h"
#include "platform/Clock.h"

#include <QFile>
#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>

namespace pelk::agent {

using namespace Qt::StringLiterals;
using platform::PrivilegedRunner;

void AgentModel::choose()
{
    if (!m_chooser)
        return;
    if (const std::optional<QUrl> url = m_chooser())
        load(*url);
}

void AgentModel::load(const QUrl &url)
{
    // Only a local file can be examined; anything else cannot be read.
    loadFile(url.isLocalFile() ? url.toLocalFile() : QString());
}

void AgentModel::loadFile(const QString &path)
{
    if (m_busy)
        return;
    setError(std::nullopt);
    EnrollmentCheck check = checkEnrollmentFile(path, m_collaborators.clock->now());
    if (!check.selection) {
        // An earlier valid selection stays selected.
        setError(check.error);
        return;
    }
    setSelection(std::move(check.selection->profile), std::move(check.selection->bytes));
}

void AgentModel::clearSelection()
{
    setSelection(std::nullopt, std::nullopt);
}

void AgentModel::connect()
{
    if (!m_selectedData || !m_profile || m_busy)
        return;
    setBusy(true);
    setError(std::nullopt);

    const QString copyPath = temporaryCopyPath(m_collaborators.temporaryDirectory);
    if (!boundary::writePrivateFile(copyPath, *m_selectedData)) {
        setBusy(false);
        setError(QString(texts::kCopyNotPrepared));
        return;
    }
    const QString commandLine = helperCommandLine(m_collaborators.helperPath, copyPath, sha256Hex(*m_selectedData));

    // The prompt and the helper block for as long as they take: run them on a pool thread and
    // take the outcome back on this thread through the watcher, which dies with the model.
    auto promise = std::make_shared<QPromise<PrivilegedRunner::Outcome>>();
    auto *watcher = new QFutureWatcher<PrivilegedRunner::Outcome>(this);
    QObject::connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, profile = *m_profile] {
        watcher->deleteLater();
        const bool delivered = watcher->future().resultCount() > 0;
        finishImport(delivered ? watcher->result() : PrivilegedRunner::Outcome::Failed, profile);
    });
    watcher->setFuture(promise->future());
    promise->start();
    QThreadPool::globalInstance()->start([promise, runner = m_collaborators.runner, commandLine, copyPath] {
        const PrivilegedRunner::Outcome outcome = runner->run(commandLine);
        // The helper has read the file by the time it exits; the copy must not linger.
        QFile::remove(copyPath);
        promise->addResult(outcome);
        promise->finish();
    });
}

void AgentModel::finishImport(PrivilegedRunner::Outcome outcome, const Profile &profile)
{
    setBusy(false);
    switch (outcome) {
    case PrivilegedRunner::Outcome::Cancelled:
        setError(QString(texts::kImportCancelled));
        return;
    case PrivilegedRunner::Outcome::Failed:
        setError(QString(texts::kImportFailed));
        return;
    case PrivilegedRunner::Outcome::Succeeded:
        break;
    }
    m_lastImport = m_collaborators.clock->now();
    setSelection(std::nullopt, std::nullopt);
    setStatus(AgentStatus(u"connecting"_s, u"Enrollment imported. Connecting to "_s + profile.baseURL + u'\u2026'));
    if (m_onRefresh)
        m_onRefresh();
}

} // namespace pelk::agent
