#include "sim/SimOptions.h"

#include <charconv>
#include <functional>
#include <map>

namespace q218::sim {

namespace {

std::optional<long> Number(std::string_view text) {
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool HasNoSpace(std::string_view text) {
    return text.find(' ') == std::string_view::npos;
}

}  // namespace

std::optional<std::string> Unescape(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes.push_back(text[i]);
            continue;
        }
        if (++i == text.size()) {
            return std::nullopt;
        }
        switch (text[i]) {
            case 'r':
                bytes.push_back('\r');
                break;
            case 'n':
                bytes.push_back('\n');
                break;
            case 't':
                bytes.push_back('\t');
                break;
            case '\\':
                bytes.push_back('\\');
                break;
            case 'x': {
                const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
                const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
                if (high < 0 || low < 0) {
                    return std::nullopt;
                }
                bytes.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return bytes;
}

ParsedOptions ParseSimOptions(const std::vector<std::string>& args) {
    SimOptions o;
    ParsedOptions result;
    using Handler = std::function<std::string(std::string_view)>;  // returns an error
    const auto frameNumber = [](std::string_view v, int& k) {
        const auto n = Number(v);
        if (!n || *n > 1'000'000) {
            return false;
        }
        k = static_cast<int>(*n);
        return true;
    };
    const std::map<std::string, Handler, std::less<>> withValue = {
        {"--serial",
         [&](std::string_view v) -> std::string {
             const bool digits =
                 v.size() == 6 && v.find_first_not_of("0123456789") == std::string_view::npos;
             if (!v.empty() && !digits) {
                 return "--serial takes six digits or an empty text";
             }
             o.firmware.serial = std::string(v);
             return "";
         }},
        {"--revision",
         [&](std::string_view v) -> std::string {
             if (v.empty() || !HasNoSpace(v)) {
                 return "--revision takes a text without spaces";
             }
             o.firmware.revision = std::string(v);
             return "";
         }},
        {"--date",
         [&](std::string_view v) -> std::string {
             if (v.empty() || !HasNoSpace(v)) {
                 return "--date takes a text without spaces";
             }
             o.firmware.date = std::string(v);
             return "";
         }},
        {"--write-time-us",
         [&](std::string_view v) -> std::string {
             const auto n = Number(v);
             if (!n || *n > 1'000'000) {
                 return "--write-time-us takes microseconds, at most 1000000";
             }
             o.wordWriteTime = std::chrono::microseconds(*n);
             return "";
         }},
        {"--reply-delay-ms",
         [&](std::string_view v) -> std::string {
             const auto n = Number(v);
             if (!n || *n > 600'000) {
                 return "--reply-delay-ms takes milliseconds, at most 600000";
             }
             o.replyDelay = std::chrono::milliseconds(*n);
             return "";
         }},
        {"--handshake",
         [&](std::string_view v) -> std::string {
             const auto text = Unescape(v);
             if (!text || text->size() != 2) {
                 return "--handshake takes two characters";
             }
             o.handshake = *text;
             return "";
         }},
        {"--noise",
         [&](std::string_view v) -> std::string {
             const auto text = Unescape(v);
             if (!text) {
                 return "--noise: bad escape";
             }
             o.noise = *text;
             return "";
         }},
        {"--noise-after-enq",
         [&](std::string_view v) -> std::string {
             const auto text = Unescape(v);
             if (!text) {
                 return "--noise-after-enq: bad escape";
             }
             o.noiseAfterEnq = *text;
             return "";
         }},
        {"--bel-after-frame",
         [&](std::string_view v) -> std::string {
             // K or K:TIMES
             const std::size_t colon = v.find(':');
             int k = 0;
             int times = 1;
             if (!frameNumber(v.substr(0, colon), k) ||
                 (colon != std::string_view::npos &&
                  (!frameNumber(v.substr(colon + 1), times) || times < 1))) {
                 return "--bel-after-frame takes K or K:TIMES";
             }
             o.belAfterFrame.emplace_back(k, times);
             return "";
         }},
        {"--corrupt-frame",
         [&](std::string_view v) -> std::string {
             int k = 0;
             if (!frameNumber(v, k)) {
                 return "--corrupt-frame takes a frame number";
             }
             o.corruptFrame = k;
             return "";
         }},
        {"--reply-after-frame",
         [&](std::string_view v) -> std::string {
             // K:TEXT
             const std::size_t colon = v.find(':');
             int k = 0;
             const auto text =
                 colon == std::string_view::npos ? std::nullopt : Unescape(v.substr(colon + 1));
             if (colon == std::string_view::npos || !frameNumber(v.substr(0, colon), k) || !text ||
                 text->empty()) {
                 return "--reply-after-frame takes K:TEXT";
             }
             o.replyAfterFrame.emplace_back(k, *text);
             return "";
         }},
        {"--silent-from-frame",
         [&](std::string_view v) -> std::string {
             int k = 0;
             if (!frameNumber(v, k)) {
                 return "--silent-from-frame takes a frame number";
             }
             o.silentFromFrame = k;
             return "";
         }},
        {"--unplug-at-frame",
         [&](std::string_view v) -> std::string {
             int k = 0;
             if (!frameNumber(v, k)) {
                 return "--unplug-at-frame takes a frame number";
             }
             o.unplugAtFrame = k;
             return "";
         }},
        {"--identification",
         [&](std::string_view v) -> std::string {
             const auto text = Unescape(v);
             if (!text) {
                 return "--identification: bad escape";
             }
             o.identification = *text;
             return "";
         }},
        {"--link",
         [&](std::string_view v) -> std::string {
             if (v.empty()) {
                 return "--link takes a path";
             }
             o.linkPath = std::string(v);
             return "";
         }},
        {"--silent-link",
         [&](std::string_view v) -> std::string {
             if (v.empty()) {
                 return "--silent-link takes a path";
             }
             o.silentLinks.emplace_back(v);
             return "";
         }},
    };
    const std::map<std::string, bool*, std::less<>> flags = {
        {"--bootloader-only", &o.bootloaderOnly},
        {"--paced", &o.paced},
        {"--silent-before-enq", &o.silentBeforeEnq},
        {"--transcript", &o.printTranscript},
        {"--help", &o.help},
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (const auto flag = flags.find(arg); flag != flags.end()) {
            *flag->second = true;
            continue;
        }
        const auto option = withValue.find(arg);
        if (option == withValue.end()) {
            result.error = "unknown option " + arg;
            return result;
        }
        if (i + 1 == args.size()) {
            result.error = arg + " needs a value";
            return result;
        }
        if (std::string error = option->second(args[++i]); !error.empty()) {
            result.error = error;
            return result;
        }
    }
    result.options = o;
    return result;
}

void ApplyOptions(const SimOptions& o, SimulatedQ218& device) {
    if (o.bootloaderOnly) {
        device.BreakApplication();
    }
    device.Paced(o.paced);
    device.WordWriteTime(o.wordWriteTime);
    device.ReplyDelay(o.replyDelay);
    if (o.handshake) {
        device.HandshakeCharacters(*o.handshake);
    }
    if (!o.noise.empty()) {
        device.NoiseBeforeEnq(o.noise);
    }
    if (!o.noiseAfterEnq.empty()) {
        device.NoiseAfterEnq(o.noiseAfterEnq);
    }
    if (o.silentBeforeEnq) {
        device.SilentBeforeEnq();
    }
    for (const auto& [k, times] : o.belAfterFrame) {
        device.BelAfterFrame(k, times);
    }
    if (o.corruptFrame) {
        device.CorruptByteInFrame(*o.corruptFrame);
    }
    for (const auto& [k, reply] : o.replyAfterFrame) {
        device.ReplyAfterFrame(k, std::string_view(reply));
    }
    if (o.silentFromFrame) {
        device.SilentFromFrame(*o.silentFromFrame);
    }
    if (o.unplugAtFrame) {
        device.UnplugAtFrame(*o.unplugAtFrame);
    }
    if (o.identification) {
        device.IdentificationReply(*o.identification);
    }
}

std::string SimUsage() {
    return R"(usage: q218-sim [options]
Serves a simulated Q218 on a pseudo-terminal and prints the path to open as its serial
port (then one line per silent pty). SIGUSR1 presses the reset button; SIGINT or SIGTERM
stops it.

Device:
  --serial DIGITS          six digits, or "" for none (default 123456; 999999 = placeholder)
  --revision TEXT          firmware revision (default R04.5)
  --date TEXT              firmware date (default 2021-11-02)
  --bootloader-only        application broken by a failed update: answers "Q218" only and
                           enters the bootloader only on SIGUSR1 (reset by hand)
  --handshake XY           the two characters the bootloader sends after ACK (default B2)
Timing:
  --paced                  like a 9600-baud 8N1 line: 1/960 s per byte each way
  --write-time-us N        flash write time per program word before "T"
  --reply-delay-ms N       every reply starts N ms late
Faults (frames count from 0, resends included):
  --noise TEXT             characters sent before ENQ
  --noise-after-enq TEXT   characters sent right behind ENQ, before ACK
  --silent-before-enq      "977" is taken but ENQ never comes
  --bel-after-frame K[:N]  answer BEL to frame K (N times)
  --corrupt-frame K        a data byte of frame K is corrupted on the line
  --reply-after-frame K:T  answer T (e.g. t) instead of "T" after frame K
  --silent-from-frame K    no answer from frame K on
  --unplug-at-frame K      the line vanishes when frame K arrives
  --identification TEXT    answer "990" with exactly TEXT
Ptys:
  --link PATH              symbolic link to the device's pty
  --silent-link PATH       one more pty where nothing answers, linked at PATH (repeatable)
  --transcript             print the device's transcript on exit (stderr)
TEXT takes the escapes \r \n \t \\ \xHH.
)";
}

}  // namespace q218::sim
