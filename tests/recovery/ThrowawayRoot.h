#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

// A minimal system tree for shadow-utils to work on instead of this machine's own accounts.
class ThrowawayRoot {
public:
    explicit ThrowawayRoot(const QByteArray &adminGroup = "sudo")
    {
        const QByteArray admin = adminGroup.isEmpty() ? QByteArray() : adminGroup + ":x:27:\n";
        write("etc/passwd", "root:x:0:0:root:/root:/bin/bash\n");
        write("etc/shadow", "root:$6$fixedsalt$rootshash:19000:0:99999:7:::\n", 0600);
        write("etc/group", "root:x:0:\n" + admin + "users:x:100:\n");
        write("etc/gshadow", "root:*::\n" + QByteArray(admin).replace(":x:27:", ":*::") + "users:*::\n", 0600);
        write("etc/login.defs", "UID_MIN 1000\nUID_MAX 60000\nGID_MIN 1000\nGID_MAX 60000\nUMASK 022\n");
        write("etc/skel/.profile", "# the tree's own profile\n");
        write("etc/skel/.config/app/settings", "tree=yes\n", 0640);
        QFile::link(QStringLiteral("../.profile"), path("etc/skel/.config/profile-link"));
        write("bin/bash", "", 0755);
        write("bin/sh", "", 0755);
        QDir(m_dir.path()).mkpath(QStringLiteral("home"));
    }

    QString root() const { return m_dir.path(); }
    QString path(const char *relative) const { return m_dir.path() + u'/' + QLatin1StringView(relative); }

    void write(const char *relative, const QByteArray &bytes, int mode = 0644) const
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QFile f(path(relative));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes);
        f.close();
        ::chmod(QFile::encodeName(path(relative)).constData(), mode_t(mode));
    }

    QByteArray read(const char *relative) const
    {
        QFile f(path(relative));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // The line of the named entry in an account file, without its newline; empty when absent.
    QByteArray line(const char *relative, const QByteArray &name) const
    {
        for (const QByteArray &l : read(relative).split('\n')) {
            if (l.startsWith(QByteArray(name + ':')))
                return l;
        }
        return {};
    }

    // The four account files, to compare before and after a run.
    QByteArray accounts() const
    {
        return read("etc/passwd") + read("etc/shadow") + read("etc/group") + read("etc/gshadow");
    }

private:
    QTemporaryDir m_dir;
};
