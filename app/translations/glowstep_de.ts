<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>TMainWindow</name>
    <message>
        <source>Device ready</source>
        <translation>Gerät bereit</translation>
    </message>
    <message>
        <source>LEDs per stair</source>
        <translation>LEDs pro Stufe</translation>
    </message>
    <message>
        <source>Standby LEDs</source>
        <translation>LEDs im Standby</translation>
    </message>
    <message>
        <source>Switch-on time after the sensor fires, s</source>
        <translation>Einschaltzeit nach Auslösen des Sensors, s</translation>
    </message>
    <message>
        <source>Delay between fully on and switching off, s</source>
        <translation>Wartezeit vom vollen Einschalten bis zum Ausschalten, s</translation>
    </message>
    <message>
        <source>Minimum sensor signal length, s</source>
        <translation>Mindestlänge des Sensorsignals, s</translation>
    </message>
    <message>
        <source>Main colour</source>
        <translation>Hauptfarbe</translation>
    </message>
    <message>
        <source>Standby colour</source>
        <translation>Standby-Farbe</translation>
    </message>
    <message>
        <source>Minimum photo-sensor signal length, s</source>
        <translation>Mindestlänge des Fotosensorsignals, s</translation>
    </message>
    <message>
        <source>Number of stairs</source>
        <translation>Anzahl der Stufen</translation>
    </message>
    <message>
        <source>Photo-sensor sensitivity</source>
        <translation>Fotosensor-Empfindlichkeit</translation>
    </message>
    <message>
        <source>Read settings</source>
        <translation>Einstellungen lesen</translation>
    </message>
    <message>
        <source>Write settings</source>
        <translation>Einstellungen schreiben</translation>
    </message>
</context>
<context>
    <name>glowstep::TApplication</name>
    <message>
        <source>Unknown error</source>
        <translation>Unbekannter Fehler</translation>
    </message>
</context>
<context>
    <name>glowstep::TCustomLED</name>
    <message>
        <source>Not enough timers available</source>
        <translation>Nicht genügend Timer verfügbar</translation>
    </message>
</context>
<context>
    <name>glowstep::TCustomSlider</name>
    <message>
        <source>Value must be between %1 and %2</source>
        <translation>Der Wert muss zwischen %1 und %2 liegen</translation>
    </message>
</context>
<context>
    <name>glowstep::TCustomSpinEdit</name>
    <message>
        <source>Value must be between %1 and %2</source>
        <translation>Der Wert muss zwischen %1 und %2 liegen</translation>
    </message>
</context>
<context>
    <name>glowstep::TMainWindow</name>
    <message>
        <source>Controller ready: %1</source>
        <translation>Controller bereit: %1</translation>
    </message>
    <message>
        <source>No controller</source>
        <translation>Kein Controller</translation>
    </message>
</context>
<context>
    <name>hid</name>
    <message>
        <source>the device was not found</source>
        <translation>das Gerät wurde nicht gefunden</translation>
    </message>
    <message>
        <source>access denied</source>
        <translation>Zugriff verweigert</translation>
    </message>
    <message>
        <source>the device is not open</source>
        <translation>das Gerät ist nicht geöffnet</translation>
    </message>
    <message>
        <source>the device does not work</source>
        <translation>das Gerät funktioniert nicht</translation>
    </message>
    <message>
        <source>the device does not take this report</source>
        <translation>das Gerät nimmt diesen Bericht nicht an</translation>
    </message>
    <message>
        <source>the operation was aborted</source>
        <translation>der Vorgang wurde abgebrochen</translation>
    </message>
    <message>
        <source>the device is not connected</source>
        <translation>das Gerät ist nicht angeschlossen</translation>
    </message>
    <message>
        <source>error %1</source>
        <translation>Fehler %1</translation>
    </message>
    <message>
        <source>Device cannot be opened</source>
        <translation>Das Gerät kann nicht geöffnet werden</translation>
    </message>
    <message>
        <source>Device cannot be identified</source>
        <translation>Das Gerät kann nicht erkannt werden</translation>
    </message>
    <message>
        <source>The HID devices present cannot be listed: %1</source>
        <translation>Die angeschlossenen HID-Geräte können nicht aufgelistet werden: %1</translation>
    </message>
    <message>
        <source>Devices plugged in or unplugged from now on cannot be noticed on this system: plug the controller in and start the program again</source>
        <translation>Ab jetzt angeschlossene oder getrennte Geräte bemerkt das Programm auf diesem System nicht: Schließen Sie den Controller an und starten Sie das Programm neu</translation>
    </message>
    <message>
        <source>the device did not take the report in time</source>
        <translation>das Gerät hat den Bericht nicht rechtzeitig angenommen</translation>
    </message>
</context>
<context>
    <name>protocol</name>
    <message>
        <source>Install the udev rule (the package installs it; from the sources: sudo cp packaging/linux/70-glowstep.rules /etc/udev/rules.d/), then plug the controller in again</source>
        <translation>Installieren Sie die udev-Regel (das Paket installiert sie; aus den Quellen: sudo cp packaging/linux/70-glowstep.rules /etc/udev/rules.d/) und schließen Sie den Controller erneut an</translation>
    </message>
    <message>
        <source>join the plugdev group (sudo usermod -aG plugdev $USER), then log in again; or use the controller from a login at the desktop itself.</source>
        <translation>treten Sie der Gruppe plugdev bei (sudo usermod -aG plugdev $USER) und melden Sie sich erneut an; oder benutzen Sie den Controller aus einer Anmeldung am Rechner selbst.</translation>
    </message>
    <message>
        <source>another program may be using it</source>
        <translation>ein anderes Programm benutzt ihn vielleicht</translation>
    </message>
    <message>
        <source>only root may read and write it</source>
        <translation>nur root darf ihn lesen und beschreiben</translation>
    </message>
    <message>
        <source>this user is neither logged in at the seat nor in the plugdev group</source>
        <translation>dieser Benutzer ist weder am Arbeitsplatz angemeldet noch in der Gruppe plugdev</translation>
    </message>
    <message>
        <source>this user may not read and write it</source>
        <translation>dieser Benutzer darf ihn nicht lesen und beschreiben</translation>
    </message>
    <message>
        <source>Close that program, then plug the controller in again.</source>
        <translation>Schließen Sie dieses Programm und schließen Sie den Controller erneut an.</translation>
    </message>
    <message>
        <source>%1 or run &quot;sudo udevadm trigger --subsystem-match=hidraw&quot;.</source>
        <translation>%1 oder führen Sie „sudo udevadm trigger --subsystem-match=hidraw“ aus.</translation>
    </message>
    <message>
        <source>The udev rule is installed: %1</source>
        <translation>Die udev-Regel ist installiert: %1</translation>
    </message>
    <message>
        <source>%1. If it is installed, %2</source>
        <translation>%1. Ist sie installiert, %2</translation>
    </message>
    <message>
        <source>The controller %1 was found</source>
        <translation>Der Controller %1 wurde gefunden</translation>
    </message>
    <message>
        <source>The controller %1 was found at %2</source>
        <translation>Der Controller %1 wurde unter %2 gefunden</translation>
    </message>
    <message>
        <source>%1, but it cannot be opened for reading and writing: %2.
%3</source>
        <translation>%1, kann aber nicht zum Lesen und Schreiben geöffnet werden: %2.
%3</translation>
    </message>
    <message>
        <source>%1, but %2.
%3</source>
        <translation>%1, aber %2.
%3</translation>
    </message>
    <message>
        <source>%1, but it cannot be opened for reading and writing: %2</source>
        <translation>%1, kann aber nicht zum Lesen und Schreiben geöffnet werden: %2</translation>
    </message>
    <message>
        <source>ERROR</source>
        <translation>FEHLER</translation>
    </message>
    <message>
        <source>Sending to the controller failed: %1</source>
        <translation>Das Senden an den Controller ist fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>The controller&apos;s answer cannot be received now: reading from it failed. Read again in a moment</source>
        <translation>Die Antwort des Controllers kann gerade nicht empfangen werden: Das Lesen von ihm ist fehlgeschlagen. Lesen Sie in einem Moment erneut</translation>
    </message>
    <message>
        <source>the controller took only %1 of the %2 bytes</source>
        <translation>der Controller hat nur %1 der %2 Bytes angenommen</translation>
    </message>
    <message>
        <source>The controller did not take the report in time: it may be busy or have stopped working</source>
        <translation>Der Controller hat den Bericht nicht rechtzeitig angenommen: Er ist vielleicht beschäftigt oder arbeitet nicht mehr</translation>
    </message>
    <message>
        <source>The controller answered with %1 bytes, too few to hold its settings</source>
        <translation>Der Controller hat mit %1 Bytes geantwortet, zu wenig für seine Einstellungen</translation>
    </message>
    <message>
        <source>Settings read from %1</source>
        <translation>Einstellungen von %1 gelesen</translation>
    </message>
    <message>
        <source>Settings sent to %1</source>
        <translation>Einstellungen an %1 gesendet</translation>
    </message>
    <message>
        <source>No controller is connected</source>
        <translation>Kein Controller angeschlossen</translation>
    </message>
    <message>
        <source>The controller did not answer within 1 s</source>
        <translation>Der Controller hat nicht innerhalb von 1 s geantwortet</translation>
    </message>
</context>
</TS>
