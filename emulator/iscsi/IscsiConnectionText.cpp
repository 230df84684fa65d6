// IscsiConnection: text requests, that is SendTargets, the discovery of the targets.
#include "emulator/iscsi/IscsiConnection.h"

#include "emulator/iscsi/TextKeys.h"

namespace emulator {

void IscsiConnection::Text(const Pdu& pdu) {
    TextKeys::Pairs pairs;
    std::vector<uint8_t> answer;
    if (!TextKeys::Parse(pdu.data, pairs)) {
        Reject(pdu, RejectProtocolError, "malformed text");
        return;
    }
    for (const auto& pair : pairs) {
        if (pair.first != "SendTargets") {
            TextKeys::Append(answer, pair.first, "NotUnderstood");
            continue;
        }
        for (const auto& t : targets_.Targets()) {
            const bool wanted = pair.second == "All"  ? true
                                : pair.second.empty() ? t.get() == target_
                                                      : t.get() == targets_.Find(pair.second);
            if (!wanted) continue;
            std::vector<uint8_t> entry;
            TextKeys::Append(entry, "TargetName", t->Name);
            TextKeys::Append(entry, "TargetAddress", portal_ + ",1");
            // What does not fit the initiator's limit is left out rather than continued.
            if (answer.size() + entry.size() > params_.initiatorMaxRecvDataSegment) break;
            answer.insert(answer.end(), entry.begin(), entry.end());
        }
    }
    Pdu r = Pdu::Make(Pdu::TextResponse, Pdu::FinalFlag);
    r.Put32(16, pdu.InitiatorTaskTag());
    r.Put32(20, Pdu::NoTag);
    r.data = answer;
    Stamp(r, true);
    Send(r);
}

}  // namespace emulator
