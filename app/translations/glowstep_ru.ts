<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>TMainWindow</name>
    <message>
        <source>Device ready</source>
        <translation>Готовность устройства</translation>
    </message>
    <message>
        <source>LEDs per stair</source>
        <translation>Количество светодиодов на ступеньку</translation>
    </message>
    <message>
        <source>Standby LEDs</source>
        <translation>Количество светодиодов подсветки в режиме ожидания </translation>
    </message>
    <message>
        <source>Switch-on time after the sensor fires, s</source>
        <translation>Время включения лестницы после срабатывания датчика, сек</translation>
    </message>
    <message>
        <source>Delay between fully on and switching off, s</source>
        <translation>Задержка между полным включением и началом выключения лестницы, сек</translation>
    </message>
    <message>
        <source>Minimum sensor signal length, s</source>
        <translation>Минимальная длина сигнала от сенсора, сек</translation>
    </message>
    <message>
        <source>Main colour</source>
        <translation>Основной цвет</translation>
    </message>
    <message>
        <source>Standby colour</source>
        <translation>Подсветка в режиме ожидания</translation>
    </message>
    <message>
        <source>Minimum photo-sensor signal length, s</source>
        <translation>Минимальная длина сигнала от фотосенсора, сек</translation>
    </message>
    <message>
        <source>Number of stairs</source>
        <translation>Количество ступенек</translation>
    </message>
    <message>
        <source>Photo-sensor sensitivity</source>
        <translation>Чувствительность фотосенсора</translation>
    </message>
    <message>
        <source>Read settings</source>
        <translation>Прочитать настройки</translation>
    </message>
    <message>
        <source>Write settings</source>
        <translation>Записать настройки</translation>
    </message>
</context>
<context>
    <name>glowstep::TApplication</name>
    <message>
        <source>Unknown error</source>
        <translation>Неизвестная ошибка</translation>
    </message>
</context>
<context>
    <name>glowstep::TCustomLED</name>
    <message>
        <source>Not enough timers available</source>
        <translation>Недостаточно доступных таймеров</translation>
    </message>
</context>
<context>
    <name>glowstep::TCustomSlider</name>
    <message>
        <source>Value must be between %1 and %2</source>
        <translation>Значение должно быть от %1 до %2</translation>
    </message>
</context>
<context>
    <name>glowstep::TCustomSpinEdit</name>
    <message>
        <source>Value must be between %1 and %2</source>
        <translation>Значение должно быть от %1 до %2</translation>
    </message>
</context>
</TS>
