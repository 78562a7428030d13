#pragma once
// What the station shows of its slots: on a terminal one line per slot, redrawn in place at
// most ten times a second and fitted to the terminal's width; elsewhere a plain line per
// event; at the end a summary table and the recovery command of every slot left in its
// bootloader. Device bytes reach it already made visible (DeviceText.h).

#include <QTimer>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace q218::flash {

// One slot as the view draws it.
struct SlotLine {
    std::string label;  // the slot's short name ("2.3" for a hub's port 3 behind port 2)
    std::string port;
    std::string serial;  // visible; "" until a unit answered
    std::string state;   // "waiting", "updating", "updated", "failed: line-lost", ...
    int framesTotal = 0;
    int framesDone = 0;         // sent for the first time
    double secondsLeft = -1.0;  // unknown below 0
};

// One line of the live view for a terminal `columns` wide: never longer than columns - 1;
// the parts go from the right as the width shrinks (the port first). Pure.
std::string SlotRow(const SlotLine& slot, int columns);

// The short name a slot is shown by: the hub's port chain of a /dev/serial/by-path name
// ("pci-0000:00:14.0-usb-0:2.3:1.0-port0" is "2.3"), else the name's last part. Pure.
std::string SlotLabel(const std::string& port);

class StationView {
public:
    // Draws on `stream`; a terminal gets the live lines, anything else event lines; `quiet`
    // (--quiet) neither: notes alone.
    StationView(std::FILE* stream, bool quiet);

    void SetSlots(std::vector<SlotLine> lines);
    SlotLine& Slot(std::size_t index) { return m_slots[index]; }
    // Something changed: the live view redraws within a tenth of a second.
    void Changed();
    // A plain event line for `slot` (only when the stream is not a terminal).
    void Event(std::size_t index, const std::string& text);
    // A line above the live view (a note every reader needs: a failed --on-record command).
    void Note(const std::string& text);
    // Draws the last state and leaves the live view for good; what follows is plain.
    void Close();
    std::FILE* Stream() const { return m_stream; }

private:
    void Draw();

    std::FILE* m_stream;
    bool m_quiet;
    bool m_terminal;
    std::vector<SlotLine> m_slots;
    QTimer m_redraw;
    int m_drawn = 0;  // lines of the live view on the screen now
    bool m_closed = false;
};

}  // namespace q218::flash
