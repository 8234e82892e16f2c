<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>LockView</name>
    <message>
        <source>This device is managed and locked</source>
        <translation>Cet appareil est géré et verrouillé</translation>
    </message>
    <message>
        <source>Contact your IT administrator for an unlock PIN.</source>
        <translation>Contactez votre administrateur informatique pour obtenir un code PIN de déverrouillage.</translation>
    </message>
    <message>
        <source>Enter unlock PIN</source>
        <translation>Saisissez le code PIN de déverrouillage</translation>
    </message>
    <message numerus="yes">
        <source>Unlock PIN, %n digits entered</source>
        <translation>
            <numerusform>Code PIN de déverrouillage, %n chiffre saisi</numerusform>
            <numerusform>Code PIN de déverrouillage, %n chiffres saisis</numerusform>
        </translation>
    </message>
    <message>
        <source>Waiting for another program to let go of the keyboard…</source>
        <translation>En attente de la libération du clavier par un autre programme…</translation>
    </message>
    <message>
        <source>Checking…</source>
        <translation>Vérification…</translation>
    </message>
    <message>
        <source>PIN not accepted. Wait a moment and try again, or contact IT.</source>
        <translation>Code PIN refusé. Patientez un instant puis réessayez, ou contactez le service informatique.</translation>
    </message>
    <message>
        <source>Pelk Agent · Your administrator can also unlock this device remotely.</source>
        <translation>Pelk Agent · Votre administrateur peut aussi déverrouiller cet appareil à distance.</translation>
    </message>
</context>
<context>
    <name>PinKey</name>
    <message>
        <source>Delete</source>
        <translation>Effacer</translation>
    </message>
    <message>
        <source>Unlock</source>
        <translation>Déverrouiller</translation>
    </message>
</context>
<context>
    <name>SetupView</name>
    <message>
        <source>Connecting…</source>
        <translation>Connexion…</translation>
    </message>
    <message>
        <source>Replace enrollment</source>
        <translation>Remplacer l’inscription</translation>
    </message>
    <message>
        <source>Connect to workspace</source>
        <translation>Se connecter à l’espace de travail</translation>
    </message>
    <message>
        <source>Your device is connected</source>
        <translation>Votre appareil est connecté</translation>
    </message>
    <message>
        <source>Device removed from Pelk</source>
        <translation>Appareil retiré de Pelk</translation>
    </message>
    <message>
        <source>Connect your device</source>
        <translation>Connectez votre appareil</translation>
    </message>
    <message>
        <source>Release to add your enrollment file</source>
        <translation>Relâchez pour ajouter votre fichier d’inscription</translation>
    </message>
    <message>
        <source>Drop your enrollment JSON here</source>
        <translation>Déposez ici votre fichier JSON d’inscription</translation>
    </message>
    <message>
        <source>From Pelk: MDM → Device fleet → enrollment file</source>
        <translation>Depuis Pelk&#xa0;: MDM → Parc d’appareils → fichier d’inscription</translation>
    </message>
    <message>
        <source>Choose enrollment file</source>
        <translation>Choisir le fichier d’inscription</translation>
    </message>
    <message>
        <source>Your IT administrators can lock this computer and delete local accounts and their data. Wiping administrator accounts requires a verified recovery administrator.</source>
        <translation>Vos administrateurs informatiques peuvent verrouiller cet ordinateur et supprimer les comptes locaux ainsi que leurs données. L’effacement des comptes administrateur nécessite un administrateur de récupération vérifié.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Last check-in: %1</source>
        <translation>Dernière synchronisation&#xa0;: %1</translation>
    </message>
    <message>
        <source>Hardware, installed applications, and network counters are reported to your IT administrators.</source>
        <translation>Le matériel, les applications installées et les compteurs réseau sont communiqués à vos administrateurs informatiques.</translation>
    </message>
    <message>
        <source>Website reporting is on: recent site origins and visit times are shared.</source>
        <translation>Le signalement des sites web est activé&#xa0;: les origines des sites récemment visités et les heures de visite sont partagées.</translation>
    </message>
    <message>
        <source>Website reporting is off.</source>
        <translation>Le signalement des sites web est désactivé.</translation>
    </message>
    <message>
        <source>Enable location / settings</source>
        <translation>Activer la localisation / Paramètres</translation>
    </message>
    <message>
        <source>Change enrollment file…</source>
        <translation>Changer de fichier d’inscription…</translation>
    </message>
</context>
<context>
    <name>SupportView</name>
    <message>
        <source>Pelk Support</source>
        <translation>Assistance Pelk</translation>
    </message>
    <message>
        <source>Close private documents before allowing access. You can stop at any time. The session lasts up to 20 minutes and ends if either person disconnects.</source>
        <translation>Fermez vos documents privés avant d’autoriser l’accès. Vous pouvez arrêter à tout moment. La session dure 20&#xa0;minutes au maximum et prend fin si l’une des deux personnes se déconnecte.</translation>
    </message>
</context>
<context>
    <name>SupportWindow</name>
    <message>
        <source>Pelk · Remote support</source>
        <translation>Pelk · Assistance à distance</translation>
    </message>
</context>
<context>
    <name>pelk::agent::AgentModel</name>
    <message>
        <source>Enrollment imported. Connecting to %1…</source>
        <translation>Inscription importée. Connexion à %1…</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Connecté</translation>
    </message>
    <message>
        <source>Connected · signing key needed</source>
        <translation>Connecté · clé de signature requise</translation>
    </message>
    <message>
        <source>Connecting</source>
        <translation>Connexion en cours</translation>
    </message>
    <message>
        <source>Offline · retrying</source>
        <translation>Hors ligne · nouvelle tentative</translation>
    </message>
    <message>
        <source>Device no longer managed</source>
        <translation>L’appareil n’est plus géré</translation>
    </message>
    <message>
        <source>Enrollment needs attention</source>
        <translation>L’inscription requiert votre attention</translation>
    </message>
    <message>
        <source>Agent is not responding</source>
        <translation>L’agent ne répond pas</translation>
    </message>
    <message>
        <source>Agent update required</source>
        <translation>Mise à jour de l’agent requise</translation>
    </message>
    <message>
        <source>Not connected</source>
        <translation>Non connecté</translation>
    </message>
    <message>
        <source>Next check-in in %1s</source>
        <translation>Prochaine synchronisation dans %1&#xa0;s</translation>
    </message>
    <message>
        <source>Checking in…</source>
        <translation>Synchronisation…</translation>
    </message>
    <message>
        <source>Drop the enrollment JSON downloaded from Pelk to connect this computer.</source>
        <translation>Déposez le fichier JSON d’inscription téléchargé depuis Pelk pour connecter cet ordinateur.</translation>
    </message>
    <message>
        <source>Install the latest Pelk Agent package to enable setup and connection status.</source>
        <translation>Installez la dernière version du paquet Pelk Agent pour activer la configuration et l’état de la connexion.</translation>
    </message>
    <message>
        <source>Install Pelk Agent to start the background service.</source>
        <translation>Installez Pelk Agent pour démarrer le service d’arrière-plan.</translation>
    </message>
    <message>
        <source>The background service has not reported recently. Reinstall Pelk Agent if it does not recover.</source>
        <translation>Le service d’arrière-plan ne s’est pas manifesté récemment. Réinstallez Pelk Agent s’il ne se rétablit pas.</translation>
    </message>
    <message>
        <source>Waiting for location status…</source>
        <translation>En attente de l’état de la localisation…</translation>
    </message>
    <message>
        <source>No check-in yet</source>
        <translation>Aucune synchronisation pour l’instant</translation>
    </message>
</context>
<context>
    <name>pelk::agent::EnrollmentImport</name>
    <message>
        <source>Choose a Linux enrollment JSON downloaded from Pelk.</source>
        <translation>Choisissez un fichier JSON d’inscription Linux téléchargé depuis Pelk.</translation>
    </message>
    <message>
        <source>This file has expired. Download a new enrollment file from Pelk.</source>
        <translation>Ce fichier a expiré. Téléchargez un nouveau fichier d’inscription depuis Pelk.</translation>
    </message>
    <message>
        <source>Choose an enrollment JSON downloaded from Pelk.</source>
        <translation>Choisissez un fichier JSON d’inscription téléchargé depuis Pelk.</translation>
    </message>
    <message>
        <source>The enrollment file could not be prepared.</source>
        <translation>Le fichier d’inscription n’a pas pu être préparé.</translation>
    </message>
    <message>
        <source>Setup cancelled. Your current connection was kept.</source>
        <translation>Configuration annulée. Votre connexion actuelle a été conservée.</translation>
    </message>
    <message>
        <source>The file could not be imported. Check that the latest Pelk Agent is installed and choose a fresh enrollment file.</source>
        <translation>Le fichier n’a pas pu être importé. Vérifiez que la dernière version de Pelk Agent est installée et choisissez un nouveau fichier d’inscription.</translation>
    </message>
</context>
<context>
    <name>pelk::app::AgentDelegate</name>
    <message>
        <source>Last check-in: %1</source>
        <translation>Dernière synchronisation&#xa0;: %1</translation>
    </message>
    <message>
        <source>Open Pelk Agent…</source>
        <translation>Ouvrir Pelk Agent…</translation>
    </message>
    <message>
        <source>Quit status app</source>
        <translation>Quitter l’application d’état</translation>
    </message>
</context>
<context>
    <name>pelk::location::LocationReporter</name>
    <message>
        <source>Location Services are off. Enable them in your desktop’s settings.</source>
        <translation>Les services de localisation sont désactivés. Activez-les dans les paramètres de votre bureau.</translation>
    </message>
    <message>
        <source>Location access is off. Allow Pelk Agent in Settings → Privacy → Location Services.</source>
        <translation>L’accès à la localisation est désactivé. Autorisez Pelk Agent dans Paramètres → Confidentialité → Services de localisation.</translation>
    </message>
    <message>
        <source>Location access is off. Allow Pelk Agent in your desktop’s settings.</source>
        <translation>L’accès à la localisation est désactivé. Autorisez Pelk Agent dans les paramètres de votre bureau.</translation>
    </message>
    <message>
        <source>Allow Pelk Agent to report this device’s location.</source>
        <translation>Autorisez Pelk Agent à signaler la position de cet appareil.</translation>
    </message>
    <message>
        <source>Location reporting is on.</source>
        <translation>Le signalement de la position est activé.</translation>
    </message>
    <message>
        <source>Waiting for a location from this computer. Battery and device health still report normally.</source>
        <translation>En attente d’une position de cet ordinateur. L’état de la batterie et de l’appareil continue d’être signalé normalement.</translation>
    </message>
</context>
<context>
    <name>pelk::platform::CompositorLockdown</name>
    <message>
        <source>Another program holds this desktop&apos;s lock: its own lock screen stays on while the computer is locked</source>
        <translation>Un autre programme détient le verrouillage de ce bureau&#xa0;: son propre écran de verrouillage reste actif tant que l’ordinateur est verrouillé</translation>
    </message>
</context>
<context>
    <name>pelk::platform::LogindSessionLockdown</name>
    <message>
        <source>This desktop lets no application hold the keyboard: its own lock screen stays on while the computer is locked</source>
        <translation>Ce bureau ne laisse aucune application prendre le clavier&#xa0;: son propre écran de verrouillage reste actif tant que l’ordinateur est verrouillé</translation>
    </message>
</context>
<context>
    <name>pelk::platform::XwaylandLockdown</name>
    <message>
        <source>GNOME did not give the keyboard to the PIN pad: its own lock screen stays on while the computer is locked</source>
        <translation>GNOME n’a pas confié le clavier au pavé de saisie du code PIN&#xa0;: son propre écran de verrouillage reste actif tant que l’ordinateur est verrouillé</translation>
    </message>
</context>
<context>
    <name>pelk::support::RemoteSupportController</name>
    <message>
        <source>The main display is unavailable.</source>
        <translation>L’écran principal n’est pas disponible.</translation>
    </message>
    <message>
        <source>Restart when you’re ready</source>
        <translation>Redémarrez quand vous le souhaitez</translation>
    </message>
    <message>
        <source>%1 was changed by your IT team and needs a restart. Save your work, then restart this computer from the system menu. Pelk will not restart this computer automatically.</source>
        <extracomment>%1 is the name of what was changed, as the agent writes it.</extracomment>
        <translation>Votre équipe informatique a modifié %1. Un redémarrage est nécessaire. Enregistrez votre travail, puis redémarrez cet ordinateur depuis le menu système. Pelk ne redémarrera pas cet ordinateur automatiquement.</translation>
    </message>
    <message>
        <source>Got it</source>
        <translation>Compris</translation>
    </message>
    <message>
        <source>Remote sharing needs an X11 session or, on Wayland, GNOME’s screen-cast and remote-desktop services or the desktop portal’s, and this session offers none of them.</source>
        <translation>Le partage à distance nécessite une session X11 ou, sous Wayland, les services de capture d’écran et de bureau à distance de GNOME ou ceux du portail de bureau, et cette session n’en propose aucun.</translation>
    </message>
    <message>
        <source>Remote sharing needs screen capture, which this display does not offer now: the X server lacks the MIT-SHM extension, or the desktop ended its screen cast.</source>
        <translation>Le partage à distance nécessite la capture d’écran, que cet affichage ne propose pas actuellement&#xa0;: il manque au serveur X l’extension MIT-SHM, ou le bureau a mis fin à sa capture d’écran.</translation>
    </message>
    <message>
        <source>Remote control needs synthetic input, which this display does not offer now: the X server lacks the XTEST extension, or the desktop ended its remote-desktop session.</source>
        <translation>Le contrôle à distance nécessite des entrées synthétiques, que cet affichage ne propose pas actuellement&#xa0;: il manque au serveur X l’extension XTEST, ou le bureau a mis fin à sa session de bureau à distance.</translation>
    </message>
</context>
<context>
    <name>pelk::support::SupportModel</name>
    <message>
        <source>Your screen is being shared</source>
        <translation>Votre écran est partagé</translation>
    </message>
    <message>
        <source>Remote support request</source>
        <translation>Demande d’assistance à distance</translation>
    </message>
    <message>
        <source>%1 can see your main display and use your keyboard and mouse.</source>
        <translation>%1 peut voir votre écran principal et utiliser votre clavier et votre souris.</translation>
    </message>
    <message>
        <source>%1 can see your main display.</source>
        <translation>%1 peut voir votre écran principal.</translation>
    </message>
    <message>
        <source>%1 is requesting permission to view your main display and control your keyboard and mouse.</source>
        <translation>%1 demande l’autorisation de voir votre écran principal et de contrôler votre clavier et votre souris.</translation>
    </message>
    <message>
        <source>%1 is requesting permission to view your main display.</source>
        <translation>%1 demande l’autorisation de voir votre écran principal.</translation>
    </message>
    <message>
        <source>Stop sharing</source>
        <translation>Arrêter le partage</translation>
    </message>
    <message>
        <source>Decline</source>
        <translation>Refuser</translation>
    </message>
    <message>
        <source>Connecting…</source>
        <translation>Connexion…</translation>
    </message>
    <message>
        <source>Allow view and control</source>
        <translation>Autoriser l’affichage et le contrôle</translation>
    </message>
    <message>
        <source>Allow screen sharing</source>
        <translation>Autoriser le partage d’écran</translation>
    </message>
</context>
</TS>
