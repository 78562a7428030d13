#include "link/Identification.h"

#include <cstddef>

#include "link/SettleDelay.h"

namespace q218 {

namespace {

// Each field of the reply is ended by one space; text after the last space is no field.
constexpr char kFieldEnd = ' ';
constexpr std::size_t kMaxFields = 5;

constexpr std::size_t kSerialField = 0;
constexpr std::size_t kModelField = 1;
constexpr std::size_t kRevisionField = 2;
constexpr std::size_t kDateField = 3;

// A device on a true 9600-baud line sends at most 960 characters a second, so no more than
// 1,920 reach the read at the end of the longest settle delay (a real reply is about 30).
// More can only come from a port that ignores the baud rate (a USB virtual port of a
// misbehaving device); it is dropped, so that one reply can put no more than this into a
// panel. Five fields fit many times over.
constexpr std::size_t kLongestReply = 1920;

}  // namespace

ReplyForm ParseReply(std::string_view reply, ReplyFields& fields) {
    if (reply.substr(0, kExpectedModel.size()) == kExpectedModel) {
        // The short form names the model only; whatever follows is not looked at.
        fields[kSerialField] = "";
        fields[kModelField] = std::string(kExpectedModel);
        fields[kRevisionField] = "";
        fields[kDateField] = "";
        return ReplyForm::Short;
    }

    // Only the model is cleared: the other fields keep an earlier reply's values until this
    // reply supplies them.
    fields[kModelField].clear();
    std::size_t counter = 0;
    for (std::size_t space = reply.find(kFieldEnd); space != std::string_view::npos;
         space = reply.find(kFieldEnd)) {
        if (counter == kMaxFields) {
            return ReplyForm::SixthField;
        }
        fields[counter] = std::string(reply.substr(0, space));
        reply.remove_prefix(space + 1);
        ++counter;
    }
    return ReplyForm::Fields;
}

void Detect(LinkContext& context, std::int16_t portNumber, ReplyFields& fields) {
    SerialLink& link = context.link;
    if (link.PortOpen()) {
        link.SetPortOpen(false);
    }
    link.SetCommPort(portNumber);
    link.SetInputLen(0);
    link.SetSettings(kLineSettings);
    if (!link.SetPortOpen(true)) {
        // A missing port, or one another program holds: silently, panels as they were.
        return;
    }
    link.Output(kIdentifyCommand);
    SettleDelay(context.clock, context.view);
    // One read of everything that arrived during the delay. A line that vanished meanwhile
    // has closed the port and lost its input: that is a query without a reply.
    std::string reply = link.LineLost() ? std::string() : link.Input();
    link.SetPortOpen(false);
    if (reply.size() > kLongestReply) {
        reply.resize(kLongestReply);
    }

    if (ParseReply(reply, fields) == ReplyForm::SixthField) {
        return;
    }
    UpdaterView& view = context.view;
    if (fields[kModelField] != kExpectedModel) {
        view.SetPanelText(kPanelModel, "");
        view.SetPanelText(kPanelSerial, "");
        view.SetPanelText(kPanelRevision, "");
        view.SetPanelText(kPanelDate, "");
        return;
    }
    view.SetPanelText(kPanelSerial, fields[kSerialField]);
    view.SetPanelText(kPanelModel, fields[kModelField]);
    view.SetPanelText(kPanelRevision, fields[kRevisionField]);
    view.SetPanelText(kPanelDate, fields[kDateField]);
}

}  // namespace q218
