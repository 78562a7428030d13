#pragma once
// The names udev gives a serial port beside its kernel name: /dev/serial/by-path/... names
// the USB socket it is plugged into (the same after replugging, whatever adapter is there),
// /dev/serial/by-id/... the adapter itself. A station names its slots by the former.

#include <QString>

namespace q218::flash {

// The link in /dev/serial/`kind` (by-path or by-id) that leads to `device`; empty when none
// does (no udev, another system, a port not on USB).
QString SerialAlias(const QString& kind, const QString& device);

}  // namespace q218::flash
