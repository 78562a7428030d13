// Runs on a line whose replies are all waiting as soon as the port opens: replies that arrive
// together, and sequences the simulated device does not make.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DownloadRunFixture.h"

namespace q218::test {
namespace {

// A line whose replies are all waiting as soon as the port opens, each open taking the next
// script: replies that arrive together, and sequences the simulated device does not make.
class PreloadedLink final : public SerialLink {
public:
    explicit PreloadedLink(std::vector<std::string> scripts) : m_scripts(std::move(scripts)) {}

    bool PortOpen() const override { return m_open; }
    OpenResult SetPortOpen(bool open) override {
        m_open = open;
        m_buffer.clear();
        if (open && m_opens < m_scripts.size()) {
            m_buffer = m_scripts[m_opens++];
        }
        return {};
    }
    void SetCommPort(std::int16_t) override {}
    void SetInputLen(int length) override { m_inputLen = length; }
    void SetSettings(const LineSettings&) override {}
    void Output(std::string_view bytes) override { written += bytes; }
    std::string Input() override {
        const std::size_t n = m_inputLen == 0 ? m_buffer.size() : 1;
        std::string taken = m_buffer.substr(0, n);
        m_buffer.erase(0, taken.size());
        return taken;
    }
    int InBufferCount() const override { return static_cast<int>(m_buffer.size()); }
    bool LineLost() const override { return false; }

    std::string written;

private:
    std::vector<std::string> m_scripts;
    std::size_t m_opens = 0;
    bool m_open = false;
    int m_inputLen = 0;
    std::string m_buffer;
};

TEST(DownloadRunPreloaded, RepliesWaitingBehindEnqAndBelBeforeAnyFrame) {
    const std::string addressRecord = ":020000040000FA";
    const std::string resetVector = ":020000000628D0";
    const std::string endRecord = ":00000001FF";
    struct Row {
        const char* name;
        std::string replies;
        std::string frames;  // what goes out between ACK and ":" "S"
    };
    const Row rows[] = {
        {"two characters already behind ENQ",
         "xy\x05"
         "AB"
         "TTT",
         Wire(addressRecord) + Wire(resetVector)},
        {"T and BEL behind ENQ are dropped",
         "\x05T\x07"
         "TTT",
         Wire(addressRecord) + Wire(resetVector)},
        // BEL before any frame names no frame to repeat: line 0 is sent, as after "T".
        {"BEL before any frame",
         "\x05"
         "AB"
         "\x07TT",
         Wire(addressRecord) + Wire(resetVector)},
        {"BEL after line 0",
         "\x05"
         "AB"
         "T\x07TT",
         Wire(addressRecord) + Wire(addressRecord) + Wire(resetVector)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::FakeClock clock;
        test::FakeView view(clock);
        view.SetPanelText("rev", "R04.5");
        PreloadedLink link({row.replies, test::InputTag().Identification("123456")});
        LinkContext context{link, view, clock};
        ReplyFields fields{};
        FirmwareImage image = {kMarkerText, addressRecord, resetVector, endRecord};

        ASSERT_EQ(RunDownload(context, image, kPort, fields).ending, DownloadEnding::Finished);

        EXPECT_EQ(test::Hex({link.written.begin(), link.written.end()}),
                  test::Hex(test::Bytes("39 37 37 0D 06")) + " " +
                      test::Hex({row.frames.begin(), row.frames.end()}) + " 3A 53 39 39 30 0D");
        EXPECT_EQ(view.ProgressHistory().back(), 1.0F);
        EXPECT_EQ(view.GetPanelText("rev"), test::InputTag().revision);
        EXPECT_TRUE(view.Violations().empty());
    }
}

}  // namespace
}  // namespace q218::test
