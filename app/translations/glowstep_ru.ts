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
<context>
    <name>glowstep::TMainWindow</name>
    <message>
        <source>Controller ready: %1</source>
        <translation>Контроллер готов: %1</translation>
    </message>
    <message>
        <source>No controller</source>
        <translation>Контроллер не подключён</translation>
    </message>
</context>
<context>
    <name>hid</name>
    <message>
        <source>the device was not found</source>
        <translation>устройство не найдено</translation>
    </message>
    <message>
        <source>access denied</source>
        <translation>доступ запрещён</translation>
    </message>
    <message>
        <source>the device is not open</source>
        <translation>устройство не открыто</translation>
    </message>
    <message>
        <source>the device does not work</source>
        <translation>устройство не работает</translation>
    </message>
    <message>
        <source>the device does not take this report</source>
        <translation>устройство не принимает этот отчёт</translation>
    </message>
    <message>
        <source>the operation was aborted</source>
        <translation>операция прервана</translation>
    </message>
    <message>
        <source>the device is not connected</source>
        <translation>устройство не подключено</translation>
    </message>
    <message>
        <source>error %1</source>
        <translation>ошибка %1</translation>
    </message>
    <message>
        <source>Device cannot be opened</source>
        <translation>Не удаётся открыть устройство</translation>
    </message>
    <message>
        <source>Device cannot be identified</source>
        <translation>Не удаётся определить устройство</translation>
    </message>
    <message>
        <source>The HID devices present cannot be listed: %1</source>
        <translation>Не удаётся получить список подключённых HID-устройств: %1</translation>
    </message>
    <message>
        <source>Devices plugged in or unplugged from now on cannot be noticed on this system: plug the controller in and start the program again</source>
        <translation>Подключение и отключение устройств в этой системе больше не отслеживается: подключите контроллер и запустите программу снова</translation>
    </message>
    <message>
        <source>the device did not take the report in time</source>
        <translation>устройство не приняло отчёт вовремя</translation>
    </message>
</context>
<context>
    <name>protocol</name>
    <message>
        <source>Install the udev rule (the package installs it; from the sources: sudo cp packaging/linux/70-glowstep.rules /etc/udev/rules.d/), then plug the controller in again</source>
        <translation>Установите правило udev (пакет устанавливает его; из исходников: sudo cp packaging/linux/70-glowstep.rules /etc/udev/rules.d/), затем снова подключите контроллер</translation>
    </message>
    <message>
        <source>join the plugdev group (sudo usermod -aG plugdev $USER), then log in again; or use the controller from a login at the desktop itself.</source>
        <translation>вступите в группу plugdev (sudo usermod -aG plugdev $USER) и войдите в систему заново; или работайте с контроллером, войдя в систему за самим компьютером.</translation>
    </message>
    <message>
        <source>another program may be using it</source>
        <translation>возможно, его использует другая программа</translation>
    </message>
    <message>
        <source>only root may read and write it</source>
        <translation>читать и записывать его может только root</translation>
    </message>
    <message>
        <source>this user is neither logged in at the seat nor in the plugdev group</source>
        <translation>этот пользователь не вошёл в систему за компьютером и не состоит в группе plugdev</translation>
    </message>
    <message>
        <source>this user may not read and write it</source>
        <translation>этому пользователю не разрешено читать и записывать его</translation>
    </message>
    <message>
        <source>Close that program, then plug the controller in again.</source>
        <translation>Закройте эту программу, затем снова подключите контроллер.</translation>
    </message>
    <message>
        <source>%1 or run &quot;sudo udevadm trigger --subsystem-match=hidraw&quot;.</source>
        <translation>%1 или выполните «sudo udevadm trigger --subsystem-match=hidraw».</translation>
    </message>
    <message>
        <source>The udev rule is installed: %1</source>
        <translation>Правило udev установлено: %1</translation>
    </message>
    <message>
        <source>%1. If it is installed, %2</source>
        <translation>%1. Если оно установлено, %2</translation>
    </message>
    <message>
        <source>The controller %1 was found</source>
        <translation>Контроллер %1 найден</translation>
    </message>
    <message>
        <source>The controller %1 was found at %2</source>
        <translation>Контроллер %1 найден в %2</translation>
    </message>
    <message>
        <source>%1, but it cannot be opened for reading and writing: %2.
%3</source>
        <translation>%1, но его не удаётся открыть для чтения и записи: %2.
%3</translation>
    </message>
    <message>
        <source>%1, but %2.
%3</source>
        <translation>%1, но %2.
%3</translation>
    </message>
    <message>
        <source>%1, but it cannot be opened for reading and writing: %2</source>
        <translation>%1, но его не удаётся открыть для чтения и записи: %2</translation>
    </message>
    <message>
        <source>ERROR</source>
        <translation>ERROR</translation>
    </message>
    <message>
        <source>Sending to the controller failed: %1</source>
        <translation>Не удалось отправить данные контроллеру: %1</translation>
    </message>
    <message>
        <source>The controller&apos;s answer cannot be received now: reading from it failed. Read again in a moment</source>
        <translation>Ответ контроллера сейчас не может быть получен: чтение из него не удалось. Повторите чтение чуть позже</translation>
    </message>
    <message>
        <source>the controller took only %1 of the %2 bytes</source>
        <translation>контроллер принял только %1 из %2 байт</translation>
    </message>
    <message>
        <source>The controller did not take the report in time: it may be busy or have stopped working</source>
        <translation>Контроллер не принял отчёт вовремя: возможно, он занят или перестал работать</translation>
    </message>
    <message>
        <source>The controller answered with %1 bytes, too few to hold its settings</source>
        <translation>Контроллер ответил %1 байт — слишком мало для его настроек</translation>
    </message>
    <message>
        <source>Settings read from %1</source>
        <translation>Настройки прочитаны из %1</translation>
    </message>
    <message>
        <source>Settings sent to %1</source>
        <translation>Настройки отправлены в %1</translation>
    </message>
    <message>
        <source>No controller is connected</source>
        <translation>Контроллер не подключён</translation>
    </message>
    <message>
        <source>The controller did not answer within 1 s</source>
        <translation>Контроллер не ответил в течение 1 с</translation>
    </message>
</context>
</TS>
