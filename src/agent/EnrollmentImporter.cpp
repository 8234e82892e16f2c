#include "agent/EnrollmentImporter.h"

#include "agent/EnrollmentImport.h"
#include "platform/Clock.h"
#include "platform/Files.h"

#include <QFile>
#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>

namespace pelk::agent {

using platform::PrivilegedRunner;

EnrollmentImporter::EnrollmentImporter(Collaborators collaborators, QObject *parent)
    : QObject(parent), m_collaborators(std::move(collaborators))
{
    Q_ASSERT(m_collaborators.clock && m_collaborators.runner);
}

void EnrollmentImporter::choose()
{
    if (!m_chooser)
        return;
    if (const std::optional<QUrl> url = m_chooser())
        load(*url);
}

void EnrollmentImporter::load(const QUrl &url)
{
    // Only a local file can be examined; anything else cannot be read.
    loadFile(url.isLocalFile() ? url.toLocalFile() : QString());
}

void EnrollmentImporter::loadFile(const QString &path)
{
    if (m_busy)
        return;
    setError(std::nullopt);
    EnrollmentCheck check = checkEnrollmentFile(path, m_collaborators.clock->now());
    if (!check.selection) {
        setError(check.error);
        return;
    }
    setSelection(Selection { std::move(check.selection->profile), std::move(check.selection->bytes) });
}

void EnrollmentImporter::clearSelection()
{
    setSelection(std::nullopt);
}

void EnrollmentImporter::connect()
{
    if (!m_selection || m_busy)
        return;
    setBusy(true);
    setError(std::nullopt);

    const QString copyPath = temporaryCopyPath(m_collaborators.temporaryDirectory);
    if (!platform::replaceFilePrivately(copyPath, m_selection->bytes)) {
        setBusy(false);
        setError(translated(texts::kCopyNotPrepared));
        return;
    }
    const QStringList arguments = helperArguments(copyPath, sha256Hex(m_selection->bytes));

    // The prompt and the helper block for as long as they take: run them on a pool thread and
    // take the outcome back on this thread through the watcher, which dies with the importer.
    auto promise = std::make_shared<QPromise<PrivilegedRunner::Outcome>>();
    auto *watcher = new QFutureWatcher<PrivilegedRunner::Outcome>(this);
    QObject::connect(
        watcher, &QFutureWatcherBase::finished, this, [this, watcher, baseUrl = m_selection->profile.baseURL] {
            watcher->deleteLater();
            const bool delivered = watcher->future().resultCount() > 0;
            finish(delivered ? watcher->result() : PrivilegedRunner::Outcome::Failed, baseUrl);
        });
    watcher->setFuture(promise->future());
    promise->start();
    QThreadPool::globalInstance()->start(
        [promise, runner = m_collaborators.runner, helper = m_collaborators.helperPath, arguments, copyPath] {
            const PrivilegedRunner::Outcome outcome = runner->run(helper, arguments);
            // The helper has read the file by the time it exits; the copy must not linger.
            QFile::remove(copyPath);
            promise->addResult(outcome);
            promise->finish();
        });
}

void EnrollmentImporter::finish(PrivilegedRunner::Outcome outcome, const QString &baseUrl)
{
    setBusy(false);
    switch (outcome) {
    case PrivilegedRunner::Outcome::Cancelled:
        setError(translated(texts::kImportCancelled));
        return;
    case PrivilegedRunner::Outcome::Failed:
        setError(translated(texts::kImportFailed));
        return;
    case PrivilegedRunner::Outcome::Succeeded:
        break;
    }
    setSelection(std::nullopt);
    Q_EMIT imported(baseUrl);
}

void EnrollmentImporter::setSelection(std::optional<Selection> selection)
{
    m_selection = std::move(selection);
    Q_EMIT selectionChanged();
}

void EnrollmentImporter::setError(std::optional<QString> error)
{
    m_error = std::move(error);
    Q_EMIT errorChanged();
}

void EnrollmentImporter::setBusy(bool busy)
{
    m_busy = busy;
    Q_EMIT busyChanged();
}

} // namespace pelk::agent
