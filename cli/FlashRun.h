#pragma once
// One run of q218-flash: the window's workflow (Form_Load, the connect step on PORT, the
// serial number, "&Update", the fresh identification) through the window logic itself, on
// the console view and the QSerialPort link, and the report of how it went. Every verdict
// comes from the typed results the logic returns, never from the texts it shows.

#include "ConsoleLines.h"
#include "FlashOptions.h"
#include "FlashReport.h"
#include "PortNaming.h"
#include "SlotEvents.h"

namespace q218::flash {

// Runs the update (or the identification) that `options` ask for; messages and progress go
// to `lines`, its steps to `observer` when there is one (--events). Ctrl+C, SIGTERM and SIGHUP
// are watched for the duration.
FlashReport RunFlash(const FlashOptions& options, ConsoleLines& lines,
                     RunObserver* observer = nullptr);

}  // namespace q218::flash
