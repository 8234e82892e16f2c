#include "platform/linux/MutterGrabSettings.h"

#include <gio/gio.h>

namespace pelk::platform {

namespace {

GSettings *settingsFor(const char *schemaId)
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    GSettingsSchema *schema = source ? g_settings_schema_source_lookup(source, schemaId, TRUE) : nullptr;
    if (!schema)
        return nullptr;
    GSettings *settings = g_settings_new_full(schema, nullptr, nullptr);
    g_settings_schema_unref(schema);
    return settings;
}

QStringList stringsOf(GSettings *settings, const char *key)
{
    QStringList values;
    gchar **strings = g_settings_get_strv(settings, key);
    for (gchar **s = strings; s && *s; ++s)
        values.append(QString::fromUtf8(*s));
    g_strfreev(strings);
    return values;
}

bool matchesAny(const QStringList &windowClass, const QString &pattern)
{
    const QByteArray glob = pattern.toUtf8();
    for (const QString &name : windowClass) {
        if (!name.isEmpty() && g_pattern_match_simple(glob.constData(), name.toUtf8().constData()))
            return true;
    }
    return false;
}

} // namespace

bool mutterKeepsGrab(bool allowGrabs, const QStringList &accessRules, const QStringList &restoreShortcuts,
    const QStringList &windowClass)
{
    if (!allowGrabs)
        return false;
    for (const QString &key : restoreShortcuts) {
        if (!key.isEmpty())
            return false;
    }
    bool admitted = false;
    for (const QString &rule : accessRules) {
        if (rule.startsWith(u'!')) {
            if (matchesAny(windowClass, rule.mid(1)))
                return false;
        } else if (matchesAny(windowClass, rule)) {
            admitted = true;
        }
    }
    return admitted;
}

MutterGrabSettings::MutterGrabSettings()
    : m_wayland(settingsFor("org.gnome.mutter.wayland")),
      m_keybindings(settingsFor("org.gnome.mutter.wayland.keybindings"))
{
}

MutterGrabSettings::~MutterGrabSettings()
{
    if (m_wayland)
        g_object_unref(m_wayland);
    if (m_keybindings)
        g_object_unref(m_keybindings);
}

bool MutterGrabSettings::keepsGrab(const QStringList &windowClass) const
{
    if (!m_wayland || !m_keybindings)
        return false;
    return mutterKeepsGrab(g_settings_get_boolean(m_wayland, "xwayland-allow-grabs"),
        stringsOf(m_wayland, "xwayland-grab-access-rules"), stringsOf(m_keybindings, "restore-shortcuts"), windowClass);
}

} // namespace pelk::platform
