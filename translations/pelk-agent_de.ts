<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>LockView</name>
    <message>
        <source>This device is managed and locked</source>
        <translation>Dieses Gerät wird verwaltet und ist gesperrt</translation>
    </message>
    <message>
        <source>Contact your IT administrator for an unlock PIN.</source>
        <translation>Wenden Sie sich an Ihre IT-Administration, um eine Entsperr-PIN zu erhalten.</translation>
    </message>
    <message>
        <source>Enter unlock PIN</source>
        <translation>Entsperr-PIN eingeben</translation>
    </message>
    <message numerus="yes">
        <source>Unlock PIN, %n digits entered</source>
        <translation>
            <numerusform>Entsperr-PIN, %n Ziffer eingegeben</numerusform>
            <numerusform>Entsperr-PIN, %n Ziffern eingegeben</numerusform>
        </translation>
    </message>
    <message>
        <source>Waiting for another program to let go of the keyboard…</source>
        <translation>Warten darauf, dass ein anderes Programm die Tastatur freigibt&#xa0;…</translation>
    </message>
    <message>
        <source>Checking…</source>
        <translation>Wird geprüft&#xa0;…</translation>
    </message>
    <message>
        <source>PIN not accepted. Wait a moment and try again, or contact IT.</source>
        <translation>PIN nicht akzeptiert. Warten Sie kurz und versuchen Sie es erneut oder wenden Sie sich an die IT.</translation>
    </message>
    <message>
        <source>Pelk Agent · Your administrator can also unlock this device remotely.</source>
        <translation>Pelk Agent · Ihre IT-Administration kann dieses Gerät auch aus der Ferne entsperren.</translation>
    </message>
</context>
<context>
    <name>PinKey</name>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Unlock</source>
        <translation>Entsperren</translation>
    </message>
</context>
<context>
    <name>SetupView</name>
    <message>
        <source>Connecting…</source>
        <translation>Verbindung wird hergestellt&#xa0;…</translation>
    </message>
    <message>
        <source>Replace enrollment</source>
        <translation>Registrierung ersetzen</translation>
    </message>
    <message>
        <source>Connect to workspace</source>
        <translation>Mit Arbeitsbereich verbinden</translation>
    </message>
    <message>
        <source>Your device is connected</source>
        <translation>Ihr Gerät ist verbunden</translation>
    </message>
    <message>
        <source>Device removed from Pelk</source>
        <translation>Gerät aus Pelk entfernt</translation>
    </message>
    <message>
        <source>Connect your device</source>
        <translation>Verbinden Sie Ihr Gerät</translation>
    </message>
    <message>
        <source>Release to add your enrollment file</source>
        <translation>Loslassen, um Ihre Registrierungsdatei hinzuzufügen</translation>
    </message>
    <message>
        <source>Drop your enrollment JSON here</source>
        <translation>Registrierungsdatei (JSON) hier ablegen</translation>
    </message>
    <message>
        <source>From Pelk: MDM → Device fleet → enrollment file</source>
        <translation>Aus Pelk: MDM → Geräteflotte → Registrierungsdatei</translation>
    </message>
    <message>
        <source>Choose enrollment file</source>
        <translation>Registrierungsdatei auswählen</translation>
    </message>
    <message>
        <source>Your IT administrators can lock this computer and delete local accounts and their data. Wiping administrator accounts requires a verified recovery administrator.</source>
        <translation>Ihre IT-Administration kann diesen Computer sperren sowie lokale Konten und deren Daten löschen. Zum Löschen von Administratorkonten ist ein verifizierter Wiederherstellungsadministrator erforderlich.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Last check-in: %1</source>
        <translation>Letzter Check-in: %1</translation>
    </message>
    <message>
        <source>Hardware, installed applications, and network counters are reported to your IT administrators.</source>
        <translation>Hardware, installierte Anwendungen und Netzwerkzähler werden an Ihre IT-Administration gemeldet.</translation>
    </message>
    <message>
        <source>Website reporting is on: recent site origins and visit times are shared.</source>
        <translation>Website-Berichte sind aktiviert: Die Ursprünge kürzlich besuchter Websites und die Besuchszeiten werden übermittelt.</translation>
    </message>
    <message>
        <source>Website reporting is off.</source>
        <translation>Website-Berichte sind deaktiviert.</translation>
    </message>
    <message>
        <source>Enable location / settings</source>
        <translation>Standort aktivieren / Einstellungen</translation>
    </message>
    <message>
        <source>Change enrollment file…</source>
        <translation>Registrierungsdatei ändern&#xa0;…</translation>
    </message>
</context>
<context>
    <name>SupportView</name>
    <message>
        <source>Pelk Support</source>
        <translation>Pelk Support</translation>
    </message>
    <message>
        <source>Close private documents before allowing access. You can stop at any time. The session lasts up to 20 minutes and ends if either person disconnects.</source>
        <translation>Schließen Sie private Dokumente, bevor Sie den Zugriff erlauben. Sie können jederzeit beenden. Die Sitzung dauert höchstens 20 Minuten und endet, sobald eine der beiden Personen die Verbindung trennt.</translation>
    </message>
</context>
<context>
    <name>SupportWindow</name>
    <message>
        <source>Pelk · Remote support</source>
        <translation>Pelk · Fernsupport</translation>
    </message>
</context>
<context>
    <name>pelk::agent::AgentModel</name>
    <message>
        <source>Enrollment imported. Connecting to %1…</source>
        <translation>Registrierung importiert. Verbindung zu %1 wird hergestellt&#xa0;…</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Verbunden</translation>
    </message>
    <message>
        <source>Connected · signing key needed</source>
        <translation>Verbunden · Signaturschlüssel erforderlich</translation>
    </message>
    <message>
        <source>Connecting</source>
        <translation>Verbindung wird hergestellt</translation>
    </message>
    <message>
        <source>Offline · retrying</source>
        <translation>Offline · neuer Versuch läuft</translation>
    </message>
    <message>
        <source>Device no longer managed</source>
        <translation>Gerät wird nicht mehr verwaltet</translation>
    </message>
    <message>
        <source>Enrollment needs attention</source>
        <translation>Registrierung erfordert Ihre Aufmerksamkeit</translation>
    </message>
    <message>
        <source>Agent is not responding</source>
        <translation>Der Agent reagiert nicht</translation>
    </message>
    <message>
        <source>Agent update required</source>
        <translation>Agent-Update erforderlich</translation>
    </message>
    <message>
        <source>Not connected</source>
        <translation>Nicht verbunden</translation>
    </message>
    <message>
        <source>Next check-in in %1s</source>
        <translation>Nächster Check-in in %1&#xa0;s</translation>
    </message>
    <message>
        <source>Checking in…</source>
        <translation>Check-in läuft&#xa0;…</translation>
    </message>
    <message>
        <source>Drop the enrollment JSON downloaded from Pelk to connect this computer.</source>
        <translation>Legen Sie die aus Pelk heruntergeladene Registrierungsdatei (JSON) hier ab, um diesen Computer zu verbinden.</translation>
    </message>
    <message>
        <source>Install the latest Pelk Agent package to enable setup and connection status.</source>
        <translation>Installieren Sie das neueste Paket von Pelk Agent, um Einrichtung und Verbindungsstatus zu aktivieren.</translation>
    </message>
    <message>
        <source>Install Pelk Agent to start the background service.</source>
        <translation>Installieren Sie Pelk Agent, um den Hintergrunddienst zu starten.</translation>
    </message>
    <message>
        <source>The background service has not reported recently. Reinstall Pelk Agent if it does not recover.</source>
        <translation>Der Hintergrunddienst hat sich in letzter Zeit nicht gemeldet. Installieren Sie Pelk Agent neu, falls er sich nicht erholt.</translation>
    </message>
    <message>
        <source>Waiting for location status…</source>
        <translation>Warten auf Standortstatus&#xa0;…</translation>
    </message>
    <message>
        <source>No check-in yet</source>
        <translation>Noch kein Check-in</translation>
    </message>
</context>
<context>
    <name>pelk::agent::EnrollmentImport</name>
    <message>
        <source>Choose a Linux enrollment JSON downloaded from Pelk.</source>
        <translation>Wählen Sie eine aus Pelk heruntergeladene Linux-Registrierungsdatei (JSON).</translation>
    </message>
    <message>
        <source>This file has expired. Download a new enrollment file from Pelk.</source>
        <translation>Diese Datei ist abgelaufen. Laden Sie eine neue Registrierungsdatei aus Pelk herunter.</translation>
    </message>
    <message>
        <source>Choose an enrollment JSON downloaded from Pelk.</source>
        <translation>Wählen Sie eine aus Pelk heruntergeladene Registrierungsdatei (JSON).</translation>
    </message>
    <message>
        <source>The enrollment file could not be prepared.</source>
        <translation>Die Registrierungsdatei konnte nicht vorbereitet werden.</translation>
    </message>
    <message>
        <source>Setup cancelled. Your current connection was kept.</source>
        <translation>Einrichtung abgebrochen. Ihre bestehende Verbindung bleibt erhalten.</translation>
    </message>
    <message>
        <source>The file could not be imported. Check that the latest Pelk Agent is installed and choose a fresh enrollment file.</source>
        <translation>Die Datei konnte nicht importiert werden. Prüfen Sie, ob die neueste Version von Pelk Agent installiert ist, und wählen Sie eine neue Registrierungsdatei.</translation>
    </message>
</context>
<context>
    <name>pelk::app::AgentDelegate</name>
    <message>
        <source>Last check-in: %1</source>
        <translation>Letzter Check-in: %1</translation>
    </message>
    <message>
        <source>Open Pelk Agent…</source>
        <translation>Pelk Agent öffnen&#xa0;…</translation>
    </message>
    <message>
        <source>Quit status app</source>
        <translation>Status-App beenden</translation>
    </message>
</context>
<context>
    <name>pelk::location::LocationReporter</name>
    <message>
        <source>Location Services are off. Enable them in your desktop’s settings.</source>
        <translation>Die Ortungsdienste sind deaktiviert. Aktivieren Sie sie in den Einstellungen Ihrer Arbeitsumgebung.</translation>
    </message>
    <message>
        <source>Location access is off. Allow Pelk Agent in Settings → Privacy → Location Services.</source>
        <translation>Der Standortzugriff ist deaktiviert. Erlauben Sie Pelk Agent den Zugriff unter Einstellungen → Datenschutz → Ortungsdienste.</translation>
    </message>
    <message>
        <source>Location access is off. Allow Pelk Agent in your desktop’s settings.</source>
        <translation>Der Standortzugriff ist deaktiviert. Erlauben Sie Pelk Agent den Zugriff in den Einstellungen Ihrer Arbeitsumgebung.</translation>
    </message>
    <message>
        <source>Allow Pelk Agent to report this device’s location.</source>
        <translation>Erlauben Sie Pelk Agent, den Standort dieses Geräts zu melden.</translation>
    </message>
    <message>
        <source>Location reporting is on.</source>
        <translation>Die Standortmeldung ist aktiviert.</translation>
    </message>
    <message>
        <source>Waiting for a location from this computer. Battery and device health still report normally.</source>
        <translation>Warten auf einen Standort dieses Computers. Akku- und Gerätezustand werden weiterhin normal gemeldet.</translation>
    </message>
</context>
<context>
    <name>pelk::platform::CompositorLockdown</name>
    <message>
        <source>Another program holds this desktop&apos;s lock: its own lock screen stays on while the computer is locked</source>
        <translation>Ein anderes Programm hält die Sperre dieses Desktops: Dessen eigener Sperrbildschirm bleibt aktiv, solange der Computer gesperrt ist</translation>
    </message>
</context>
<context>
    <name>pelk::platform::LogindSessionLockdown</name>
    <message>
        <source>This desktop lets no application hold the keyboard: its own lock screen stays on while the computer is locked</source>
        <translation>Diese Arbeitsumgebung lässt keine Anwendung die Tastatur übernehmen: Ihr eigener Sperrbildschirm bleibt aktiv, solange der Computer gesperrt ist</translation>
    </message>
</context>
<context>
    <name>pelk::platform::XwaylandLockdown</name>
    <message>
        <source>GNOME did not give the keyboard to the PIN pad: its own lock screen stays on while the computer is locked</source>
        <translation>GNOME hat die Tastatur nicht an das PIN-Feld übergeben: Sein eigener Sperrbildschirm bleibt aktiv, solange der Computer gesperrt ist</translation>
    </message>
</context>
<context>
    <name>pelk::support::RemoteSupportController</name>
    <message>
        <source>The main display is unavailable.</source>
        <translation>Der Hauptbildschirm ist nicht verfügbar.</translation>
    </message>
    <message>
        <source>Restart when you’re ready</source>
        <translation>Neu starten, sobald Sie bereit sind</translation>
    </message>
    <message>
        <source>%1 was changed by your IT team and needs a restart. Save your work, then restart this computer from the system menu. Pelk will not restart this computer automatically.</source>
        <extracomment>%1 is the name of what was changed, as the agent writes it.</extracomment>
        <translation>%1 wurde von Ihrem IT-Team geändert und erfordert einen Neustart. Speichern Sie Ihre Arbeit und starten Sie diesen Computer dann über das Systemmenü neu. Pelk startet diesen Computer nicht automatisch neu.</translation>
    </message>
    <message>
        <source>Got it</source>
        <translation>Verstanden</translation>
    </message>
    <message>
        <source>Remote sharing needs an X11 session or, on Wayland, GNOME’s screen-cast and remote-desktop services or the desktop portal’s, and this session offers none of them.</source>
        <translation>Die Bildschirmfreigabe benötigt eine X11-Sitzung oder unter Wayland die Bildschirmaufnahme- und Fernsteuerungsdienste von GNOME oder die des Desktop-Portals, und diese Sitzung bietet keines davon.</translation>
    </message>
    <message>
        <source>Remote sharing needs screen capture, which this display does not offer now: the X server lacks the MIT-SHM extension, or the desktop ended its screen cast.</source>
        <translation>Die Bildschirmfreigabe benötigt eine Bildschirmaufnahme, die diese Anzeige derzeit nicht bietet: Dem X-Server fehlt die MIT-SHM-Erweiterung, oder die Arbeitsumgebung hat ihre Bildschirmaufnahme beendet.</translation>
    </message>
    <message>
        <source>Remote control needs synthetic input, which this display does not offer now: the X server lacks the XTEST extension, or the desktop ended its remote-desktop session.</source>
        <translation>Die Fernsteuerung benötigt künstliche Eingaben, die diese Anzeige derzeit nicht bietet: Dem X-Server fehlt die XTEST-Erweiterung, oder die Arbeitsumgebung hat ihre Fernsteuerungssitzung beendet.</translation>
    </message>
</context>
<context>
    <name>pelk::support::SupportModel</name>
    <message>
        <source>Your screen is being shared</source>
        <translation>Ihr Bildschirm wird freigegeben</translation>
    </message>
    <message>
        <source>Remote support request</source>
        <translation>Anfrage für Fernsupport</translation>
    </message>
    <message>
        <source>%1 can see your main display and use your keyboard and mouse.</source>
        <translation>%1 kann Ihren Hauptbildschirm sehen und Ihre Tastatur und Maus verwenden.</translation>
    </message>
    <message>
        <source>%1 can see your main display.</source>
        <translation>%1 kann Ihren Hauptbildschirm sehen.</translation>
    </message>
    <message>
        <source>%1 is requesting permission to view your main display and control your keyboard and mouse.</source>
        <translation>%1 bittet um die Erlaubnis, Ihren Hauptbildschirm zu sehen und Ihre Tastatur und Maus zu steuern.</translation>
    </message>
    <message>
        <source>%1 is requesting permission to view your main display.</source>
        <translation>%1 bittet um die Erlaubnis, Ihren Hauptbildschirm zu sehen.</translation>
    </message>
    <message>
        <source>Stop sharing</source>
        <translation>Freigabe beenden</translation>
    </message>
    <message>
        <source>Decline</source>
        <translation>Ablehnen</translation>
    </message>
    <message>
        <source>Connecting…</source>
        <translation>Verbindung wird hergestellt&#xa0;…</translation>
    </message>
    <message>
        <source>Allow view and control</source>
        <translation>Ansehen und Steuern erlauben</translation>
    </message>
    <message>
        <source>Allow screen sharing</source>
        <translation>Bildschirmfreigabe erlauben</translation>
    </message>
</context>
</TS>
