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
</TS>
