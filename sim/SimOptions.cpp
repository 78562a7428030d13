#include "sim/SimOptions.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <functional>
#include <type_traits>
#include <utility>

#include "image/HexDigit.h"

namespace q218::sim {

namespace {

// Frame numbers beyond any image: a mistyped option, not a fault.
constexpr long kMaxFrame = 1'000'000;

std::optional<long> Number(std::string_view text) {
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

// A digit of a \xHH escape: typed by a person on a command line, so lower case counts too,
// unlike in the image's records.
std::optional<int> EscapeDigit(char c) {
    return HexDigitValue(c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c);
}

bool HasNoSpace(std::string_view text) {
    return text.find(' ') == std::string_view::npos;
}

// A check of an option's value; `what` is the message when it fails.
CLI::Validator Requires(std::function<bool(const std::string&)> ok, std::string what) {
    return CLI::Validator([ok = std::move(ok), what = std::move(what)](
                              std::string& value) { return ok(value) ? std::string() : what; },
                          "");
}

// Turns the escapes of a TEXT value into its bytes before the value is stored.
CLI::Validator Escapes() {
    return CLI::Validator(
        [](std::string& value) {
            const auto bytes = Unescape(value);
            if (!bytes) {
                return std::string("bad escape");
            }
            value = *bytes;
            return std::string();
        },
        "");
}

// "K" or "K:REST" with K a frame number; REST is nullopt without the colon. A value of
// another form is refused with the parser's own error.
std::pair<int, std::optional<std::string>> FrameAnd(const std::string& option,
                                                    std::string_view value, const char* form) {
    const std::size_t colon = value.find(':');
    const auto k = Number(value.substr(0, colon));
    if (!k || *k > kMaxFrame) {
        throw CLI::ValidationError(option, std::string("takes ") + form);
    }
    if (colon == std::string_view::npos) {
        return {static_cast<int>(*k), std::nullopt};
    }
    return {static_cast<int>(*k), std::string(value.substr(colon + 1))};
}

// The device's firmware and bootloader: the help text's group "Device".
void DeviceOptions(CLI::App& app, SimOptions& o) {
    const auto isSerial = [](const std::string& v) {
        return v.empty() || (v.size() == 6 && v.find_first_not_of("0123456789") == v.npos);
    };
    const auto isWord = [](const std::string& v) { return !v.empty() && HasNoSpace(v); };
    const std::string device = "Device";
    // First, so that the device and fault options given with it apply on top.
    app.add_option_function<std::uint64_t>(
           "--random", [&o](std::uint64_t seed) { o.device = DrawDevice(seed); },
           "the device and faults the soak draws from SEED, to replay a seed it reports")
        ->type_name("SEED")
        ->group(device);
    app.add_option("--serial", o.device.firmware.serial,
                   "six digits, or \"\" for none (999999 is the factory placeholder)")
        ->type_name("DIGITS")
        ->check(Requires(isSerial, "six digits or an empty text"))
        ->capture_default_str()
        ->group(device);
    const auto firmwareWord = [&](const char* name, std::string& field, const char* help) {
        app.add_option(name, field, help)
            ->check(Requires(isWord, "a text without spaces"))
            ->capture_default_str()
            ->group(device);
    };
    firmwareWord("--revision", o.device.firmware.revision, "firmware revision");
    firmwareWord("--date", o.device.firmware.date, "firmware date");
    app.add_flag("--bootloader-only", o.device.bootloaderOnly,
                 "application broken by a failed update: answers \"Q218\" only and enters the "
                 "bootloader only on SIGUSR1 (reset by hand)")
        ->group(device);
    app.add_option("--handshake", o.handshake,
                   "the two characters the bootloader sends after ACK (default B2)")
        ->type_name("XY")
        ->transform(Escapes())
        ->check(Requires([](const std::string& v) { return v.size() == 2; }, "two characters"))
        ->group(device);
}

// How fast the device answers: the group "Timing".
void TimingOptions(CLI::App& app, SimOptions& o) {
    const std::string timing = "Timing";
    app.add_flag("--paced", o.paced, "like a 9600-baud 8N1 line: 1/960 s per byte each way")
        ->group(timing);
    // N whole units of the field's own duration type (microseconds, milliseconds), N <= most.
    const auto duration = [&](const char* name, auto& field, long most, const char* help) {
        app.add_option_function<long>(
               name, [&field](long n) { field = std::remove_reference_t<decltype(field)>(n); },
               help)
            ->type_name("N")
            ->check(CLI::Range(0L, most).description(""))
            ->group(timing);
    };
    duration("--write-time-us", o.wordWriteTime, 1'000'000L,
             "flash write time per program word before \"T\"");
    duration("--reply-delay-ms", o.replyDelay, 600'000L, "every reply starts N ms late");
}

// What goes wrong, each fault by its own option: the group "Faults".
void FaultOptions(CLI::App& app, SimOptions& o) {
    const auto frame = CLI::Range(0L, kMaxFrame).description("");
    const std::string faults = "Faults";
    // A fault's TEXT, stored as the bytes its escapes stand for.
    const auto textFault = [&](const char* name, auto& field, const char* help) {
        app.add_option(name, field, help)->type_name("TEXT")->transform(Escapes())->group(faults);
    };
    const auto frameFault = [&](const char* name, std::optional<int>& field, const char* help) {
        app.add_option_function<int>(
               name, [&field](int k) { field = k; }, help)
            ->type_name("K")
            ->check(frame)
            ->group(faults);
    };
    textFault("--noise", o.device.faults.noiseBeforeEnq, "characters sent before ENQ");
    textFault("--noise-after-enq", o.device.faults.noiseAfterEnq,
              "characters sent right behind ENQ, before ACK");
    app.add_flag("--silent-before-enq", o.device.faults.silentBeforeEnq,
                 "\"977\" is taken but ENQ never comes")
        ->group(faults);
    app.add_option_function<std::string>(
           "--bel-after-frame",
           [&o](const std::string& v) {
               const auto [k, rest] = FrameAnd("--bel-after-frame", v, "K or K:TIMES");
               const std::optional<long> times = rest ? Number(*rest) : 1L;
               if (!times || *times < 1 || *times > kMaxFrame) {
                   throw CLI::ValidationError("--bel-after-frame", "takes K or K:TIMES");
               }
               o.device.faults.belAfterFrame[k] = static_cast<int>(*times);
           },
           "answer BEL to frame K (TIMES times, and so to the frames after it)")
        ->type_name("K[:TIMES]")
        ->group(faults);
    frameFault("--corrupt-frame", o.device.faults.corruptFrame,
               "a data byte of frame K is corrupted on the line");
    app.add_option_function<std::string>(
           "--reply-after-frame",
           [&o](const std::string& v) {
               const auto [k, text] = FrameAnd("--reply-after-frame", v, "K:TEXT");
               const auto bytes = text ? Unescape(*text) : std::nullopt;
               if (!bytes || bytes->empty()) {
                   throw CLI::ValidationError("--reply-after-frame", "takes K:TEXT");
               }
               o.device.faults.replyAfterFrame[k] = *bytes;
           },
           "answer TEXT (e.g. t) instead of \"T\" after frame K")
        ->type_name("K:TEXT")
        ->group(faults);
    frameFault("--silent-from-frame", o.device.faults.silentFromFrame, "no answer from frame K on");
    frameFault("--unplug-at-frame", o.device.faults.unplugAtFrame,
               "the line vanishes when frame K arrives");
    frameFault("--unplug-after-reply", o.device.faults.unplugAfterReplyToFrame,
               "the line vanishes once the reply to frame K has been read");
    textFault("--identification", o.device.faults.identification,
              "answer \"990\" with exactly TEXT");
}

// Where the device is served: the group "Ptys".
void PtyOptions(CLI::App& app, SimOptions& o) {
    const std::string ptys = "Ptys";
    const auto path = Requires([](const std::string& v) { return !v.empty(); }, "a path");
    app.add_option("--link", o.linkPath, "symbolic link to the device's pty")
        ->type_name("PATH")
        ->check(path)
        ->group(ptys);
    app.add_option("--silent-link", o.silentLinks,
                   "one more pty where nothing answers, linked at PATH (repeatable)")
        ->type_name("PATH")
        ->allow_extra_args(false)
        ->check(path)
        ->group(ptys);
    app.add_flag("--transcript", o.printTranscript,
                 "print the device's transcript on exit (stderr)")
        ->group(ptys);
}

// Every option, in the groups of the help text in this order, each storing into `o`.
void DescribeOptions(CLI::App& app, SimOptions& o) {
    app.description(
        "Serves a simulated Q218 on a pseudo-terminal and prints the path to open as its "
        "serial port (then one line per silent pty). SIGUSR1 presses the reset button; SIGINT "
        "or SIGTERM stops it.");
    app.footer(
        "TEXT takes the escapes \\r \\n \\t \\\\ \\xHH. Frames count from 0, resends included.");
    DeviceOptions(app, o);
    TimingOptions(app, o);
    FaultOptions(app, o);
    PtyOptions(app, o);
}

}  // namespace

ParsedOptions ParseSimOptions(const std::vector<std::string>& args) {
    SimOptions options;
    CLI::App app("", "q218-sim");
    DescribeOptions(app, options);
    // CLI11 takes a vector of arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        options.help = true;
    } catch (const CLI::ParseError& e) {
        return {std::nullopt, e.what()};
    }
    return {std::move(options), ""};
}

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
        // \r \n \t \\ stand for one character each; \xHH for the byte HH.
        constexpr std::string_view kNamed = "rnt\\";
        constexpr std::string_view kMeant = "\r\n\t\\";
        if (const std::size_t named = kNamed.find(text[i]); named != kNamed.npos) {
            bytes.push_back(kMeant[named]);
            continue;
        }
        if (text[i] != 'x') {
            return std::nullopt;
        }
        const auto high = i + 1 < text.size() ? EscapeDigit(text[i + 1]) : std::nullopt;
        const auto low = i + 2 < text.size() ? EscapeDigit(text[i + 2]) : std::nullopt;
        if (!high || !low) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(*high * 16 + *low));
        i += 2;
    }
    return bytes;
}

void ApplyOptions(const SimOptions& o, SimulatedQ218& device) {
    o.device.ApplyTo(device);
    device.Paced(o.paced);
    device.WordWriteTime(o.wordWriteTime);
    device.ReplyDelay(o.replyDelay);
    if (o.handshake) {
        device.HandshakeCharacters(*o.handshake);
    }
}

std::string SimUsage() {
    SimOptions options;
    CLI::App app("", "q218-sim");
    DescribeOptions(app, options);
    return app.help();
}

}  // namespace q218::sim
