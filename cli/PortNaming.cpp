#include "PortNaming.h"

#include <QSerialPortInfo>
#include <cstdio>
#include <regex>

#include "FlashReport.h"
#include "PortAliases.h"
#include "app/DeviceText.h"

namespace q218::flash {

PortTarget ResolvePort(const std::string& port) {
    static const std::regex windowName("COM([1-4])");
    std::smatch match;
    if (std::regex_match(port, match, windowName)) {
        const auto number = static_cast<std::int16_t>(std::stoi(match[1].str()));
        return {number, "COM " + match[1].str(), UpdaterPortNames(), true};
    }
    std::string path = port;
#ifndef _WIN32
    if (!port.empty() && !port.starts_with('/') && !port.starts_with("./") &&
        !port.starts_with("../")) {
        path = "/dev/" + port;
    }
#endif
    return {1, path, [path](std::int16_t n) { return n == 1 ? path : std::string(); }};
}

std::string RecoveryCommand(const std::string& port, const std::string& serial) {
    return "q218-flash " + ShellWord(port) + " --serial " + ShellWord(serial);
}

std::string ShellWord(const std::string& word) {
#ifdef _WIN32
    // cmd.exe and PowerShell: double quotes around a word with a blank or a character of
    // their syntax; a Windows path holds no double quote.
    if (!word.empty() && word.find_first_of(" \t&()[]{}^=;!'+,`~%@$") == std::string::npos) {
        return word;
    }
    return "\"" + word + "\"";
#else
    // POSIX shells: single quotes take everything literally but the single quote itself,
    // which is closed, escaped and reopened.
    static const std::regex plain("[A-Za-z0-9_@%+=:,./-]+");
    if (std::regex_match(word, plain)) {
        return word;
    }
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
#endif
}

int ListPorts() {
    // Read from the system's device lists only: no port is opened.
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        // Descriptions come from the adapter's own USB descriptors: shown, never obeyed.
        const auto field = [](const QString& text) {
            if (text.isEmpty()) {
                return std::string("-");
            }
            QString shown;
            for (const QChar c : text) {
                shown += IsControlCharacter(c.unicode())
                             ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                             : QString(c);
            }
            return shown.toStdString();
        };
        const QString usb = info.hasVendorIdentifier() && info.hasProductIdentifier()
                                ? QStringLiteral("%1:%2")
                                      .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                                      .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'))
                                : QString();
        std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\n", field(info.systemLocation()).c_str(),
                    field(info.description()).c_str(), field(info.manufacturer()).c_str(),
                    field(usb).c_str(), field(info.serialNumber()).c_str(),
                    field(SerialAlias(QStringLiteral("by-path"), info.systemLocation())).c_str(),
                    field(SerialAlias(QStringLiteral("by-id"), info.systemLocation())).c_str());
    }
    return kExitUpdated;
}

}  // namespace q218::flash
