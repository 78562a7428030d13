#include "link/Identification.h"

#include <algorithm>
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
// misbehaving device). Such a reply is refused whole, as a sixth field is: parsing its first
// part would show fields the device never sent as a whole reply.
constexpr std::size_t kLongestReply = 1920;

int FieldsSupplied(ReplyForm form, std::string_view reply) {
    if (form == ReplyForm::Short) {
        return 1;
    }
    const auto spaces = static_cast<std::size_t>(std::count(reply.begin(), reply.end(), kFieldEnd));
    return static_cast<int>(std::min(spaces, kMaxFields));
}

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

DeviceInfo Detect(LinkContext& context, std::int16_t portNumber, ReplyFields& fields) {
    SerialLink& link = context.link;
    UpdaterView& view = context.view;
    DeviceInfo info;
    const auto panels = [&] {
        info.model = view.GetPanelText(kPanelModel);
        info.serial = view.GetPanelText(kPanelSerial);
        info.revision = view.GetPanelText(kPanelRevision);
        info.date = view.GetPanelText(kPanelDate);
        return info;
    };
    if (link.PortOpen()) {
        link.SetPortOpen(false);
    }
    link.SetCommPort(portNumber);
    link.SetInputLen(0);
    link.SetSettings(kLineSettings);
    if (const OpenResult opened = link.SetPortOpen(true); !opened) {
        // A missing port, or one another program holds: silently, panels as they were.
        info.openError = *opened.error;
        return panels();
    }
    link.Output(kIdentifyCommand);
    SettleDelay(context.clock, context.view);
    // One read of everything that arrived during the delay. A line that vanished meanwhile
    // has closed the port and lost its input: that is a query without a reply.
    std::string reply = link.LineLost() ? std::string() : link.Input();
    link.SetPortOpen(false);
    info.status = QueryStatus::Refused;
    if (reply.size() > kLongestReply) {
        info.reply = reply.substr(0, kLongestReply);
        return panels();
    }
    info.reply = reply;

    const ReplyForm form = ParseReply(reply, fields);
    if (form == ReplyForm::SixthField) {
        return panels();
    }
    info.status = QueryStatus::Answered;
    info.fieldsSupplied = FieldsSupplied(form, reply);
    if (fields[kModelField] != kExpectedModel) {
        view.SetPanelText(kPanelModel, "");
        view.SetPanelText(kPanelSerial, "");
        view.SetPanelText(kPanelRevision, "");
        view.SetPanelText(kPanelDate, "");
        return panels();
    }
    view.SetPanelText(kPanelSerial, fields[kSerialField]);
    view.SetPanelText(kPanelModel, fields[kModelField]);
    view.SetPanelText(kPanelRevision, fields[kRevisionField]);
    view.SetPanelText(kPanelDate, fields[kDateField]);
    return panels();
}

}  // namespace q218
