// "Q218 not found." on the real window (offscreen): the message line keeps its text, and the
// reason for each port tried is its tooltip, its accessible description and a log on
// standard error, until the next scan.

#include <QLineEdit>
#include <QTextDocument>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "app/Main.h"
#include "app/qt/QtUpdaterView.h"
#include "link/PortAccess.h"
#include "sim/InMemoryLink.h"
#include "sim/SimulatedQ218.h"

namespace q218 {
namespace {

using namespace std::chrono_literals;

// Ten seconds pass at every reading: each settle delay is over at its first check, so the
// real window runs the scan without sleeping.
class HastyClock final : public MonotonicClock {
public:
    std::chrono::nanoseconds Now() const override { return m_now += 10s; }

private:
    mutable std::chrono::nanoseconds m_now = 1'000'250ms;
};

TEST(ScanDetailTest, EachKindOfPortGivesItsOwnReasonBesideTheMessageLine) {
    struct Row {
        const char* name;
        void (*wire)(sim::InMemoryLink&);
        std::string firstLine;  // the reason for COM 1; COM 2 to 4 are missing in every row
    };
    const Row rows[] = {
        {"missing", [](sim::InMemoryLink&) {},
         "COM 1 (COM1): no such port: nothing is plugged in under that name."},
        {"forbidden",
         [](sim::InMemoryLink& link) {
             link.AddSilentPort(1);
             link.SetForbidden(1, true);
         },
         // The in-memory port has no device file: the advice has no group to name.
         "COM 1 (COM1): " + PermissionAdvice("COM1")},
        {"held",
         [](sim::InMemoryLink& link) {
             link.AddSilentPort(1);
             link.SetBusy(1, true);
         },
         "COM 1 (COM1): held by another program: close it, then try again."},
        {"silent", [](sim::InMemoryLink& link) { link.AddSilentPort(1); },
         "COM 1: opened, but nothing answered the identification query."},
    };
    std::set<QString> tooltips;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HastyClock clock;
        sim::InMemoryLink link;
        row.wire(link);
        QtUpdaterView window;
        Main logic(window, link, clock);
        window.SetEvents(&logic);
        logic.Form_Load();
        auto* message = window.findChild<QLineEdit*>("Text2");
        ASSERT_NE(message, nullptr);

        testing::internal::CaptureStderr();
        logic.cmdOK_Click();
        const std::string log = testing::internal::GetCapturedStderr();

        EXPECT_EQ(message->text(), "Connect Q218 to serial port.");
        const QString expected = QString::fromStdString(row.firstLine) +
                                 "\nCOM 2 (COM2): no such port: nothing is plugged in under "
                                 "that name.";
        EXPECT_TRUE(message->accessibleDescription().startsWith(expected))
            << message->accessibleDescription().toStdString();
        EXPECT_EQ(message->accessibleDescription().count('\n'), 3) << "one line per port";
        // The tooltip shows the same lines, as text even where a reason looks like markup.
        QTextDocument shown;
        shown.setHtml(message->toolTip());
        EXPECT_EQ(shown.toPlainText(), message->accessibleDescription());
        tooltips.insert(message->toolTip());
        EXPECT_NE(log.find("Q218 not found.\n  " + row.firstLine + "\n  COM 2"), std::string::npos)
            << log;

        // The next scan finds the device: the reason goes with the scan that had it.
        sim::SimulatedQ218 device(clock, sim::PreviousFirmware{.serial = "123456"});
        link.Attach(3, device);
        logic.cmdOK_Click();
        EXPECT_EQ(message->toolTip(), "");
        EXPECT_EQ(message->accessibleDescription(), "");
    }
    EXPECT_EQ(tooltips.size(), std::size(rows));
}

}  // namespace
}  // namespace q218
