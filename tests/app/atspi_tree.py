#!/usr/bin/python3
"""Reads the window's accessibility tree from the session's at-spi bus, as a screen reader does.

Prints every object as "[role] name (description) value=... actions=..." and checks that each
expected "role|name" pair is among them. Waits up to 30 s for the program to appear with a frame.
Exit status: 0 all found, 1 some missing, 77 when the bus or python3-dbus is not there.
"""
import sys
import time

try:
    import dbus
except ImportError:
    print("python3-dbus is not installed")
    sys.exit(77)

ACCESSIBLE = "org.a11y.atspi.Accessible"
PROPERTIES = "org.freedesktop.DBus.Properties"
VALUE = "org.a11y.atspi.Value"
ACTION = "org.a11y.atspi.Action"


def describe(bus, name, path, depth, lines):
    node = bus.get_object(name, path, introspect=False)
    properties = dbus.Interface(node, PROPERTIES)
    role = str(node.GetRoleName(dbus_interface=ACCESSIBLE))
    line = "%s[%s] %s" % ("  " * depth, role, properties.Get(ACCESSIBLE, "Name"))
    description = str(properties.Get(ACCESSIBLE, "Description"))
    if description:
        line += " (%s)" % description
    interfaces = node.GetInterfaces(dbus_interface=ACCESSIBLE)
    if VALUE in interfaces:
        line += " value=%g range=%g..%g" % tuple(
            float(properties.Get(VALUE, key))
            for key in ("CurrentValue", "MinimumValue", "MaximumValue"))
    if ACTION in interfaces:
        actions = dbus.Interface(node, ACTION)
        count = int(properties.Get(ACTION, "NActions"))
        line += " actions=" + ",".join(str(actions.GetName(i)) for i in range(count))
    lines.append((role, str(properties.Get(ACCESSIBLE, "Name")), line))
    for child_name, child_path in node.GetChildren(dbus_interface=ACCESSIBLE):
        describe(bus, child_name, child_path, depth + 1, lines)


def tree():
    session = dbus.SessionBus()
    address = session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(
        dbus_interface="org.a11y.Bus")
    bus = dbus.bus.BusConnection(str(address))
    root = bus.get_object("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                          introspect=False)
    lines = []
    for name, path in root.GetChildren(dbus_interface=ACCESSIBLE):
        describe(bus, name, path, 0, lines)
    return lines


def main(expected):
    wanted = [tuple(item.split("|", 1)) for item in expected]
    deadline = time.monotonic() + 30
    lines, error = [], None
    while time.monotonic() < deadline:
        try:
            lines = tree()
            error = None
        except dbus.exceptions.DBusException as failure:
            error = failure
        if any(role == "frame" for role, _, _ in lines):
            break
        time.sleep(0.2)
    if error is not None and not lines:
        print("the accessibility bus cannot be read: %s" % error)
        return 77
    print("\n".join(line for _, _, line in lines))
    found = {(role, name) for role, name, _ in lines}
    missing = [pair for pair in wanted if pair not in found]
    for role, name in missing:
        print("missing: [%s] %s" % (role, name))
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
