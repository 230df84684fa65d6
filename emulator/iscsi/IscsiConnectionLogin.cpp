// IscsiConnection: login and the negotiation of the session's parameters.
#include "emulator/iscsi/IscsiConnection.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "emulator/iscsi/EventLog.h"
#include "emulator/iscsi/TextKeys.h"

namespace emulator {

namespace {

constexpr uint8_t StageSecurity = 0;
constexpr uint8_t StageOperational = 1;
constexpr uint8_t StageFullFeature = 3;

// AuthMethod offers a list; this target takes only None.
bool OffersNone(const std::string& value) {
    bool none = false;
    size_t start = 0;
    while (start <= value.size()) {
        size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        if (value.compare(start, comma - start, "None") == 0) none = true;
        start = comma + 1;
    }
    return none;
}

}  // namespace

void IscsiConnection::NotALogin(const Pdu& pdu) {
    if (loginPdus_ == 0) {
        ForceClose("a PDU other than Login before the login");
        return;
    }
    // The login has begun: it is refused, with the session's own ISID and TSIH.
    Pdu request = pdu;
    memcpy(request.header + 8, isid_, 6);
    request.Put16(14, tsih_);
    char why[64];
    snprintf(why, sizeof why, "opcode 0x%02x during the login", pdu.Opcode());
    LoginFail(request, LoginInitiatorError, 0x0B, why);  // invalid during login
}

void IscsiConnection::LoginFail(const Pdu& request, uint8_t statusClass, uint8_t detail, const char* why) {
    Pdu r = Pdu::Make(Pdu::LoginResponse, 0);
    memcpy(r.header + 8, request.header + 8, 8);  // ISID and TSIH as sent
    r.Put32(16, request.InitiatorTaskTag());
    r.header[36] = statusClass;
    r.header[37] = detail;
    Stamp(r, true);
    Send(r);
    targets_.Log().Line("c%u login refused %02x%02x: %s", number_, statusClass, detail, why);
    phase_ = Phase::Closing;
}

bool IscsiConnection::LoginKeys(const std::vector<uint8_t>& text, uint8_t stage, std::vector<uint8_t>& answer,
                                uint8_t& statusClass, uint8_t& detail, std::string& why) {
    TextKeys::Pairs pairs;
    statusClass = LoginInitiatorError;
    detail = 0x00;
    if (!TextKeys::Parse(text, pairs)) {
        why = "malformed key=value text";
        return false;
    }
    for (const auto& pair : pairs) {
        if (!FirstTime(pair.first)) {
            // Declared or negotiated before in this login: which value holds is anyone's guess.
            why = pair.first + " given twice";
            return false;
        }
        if (!LoginKey(pair.first, pair.second, answer, detail, why)) return false;
    }
    if (stage == StageOperational && !mrdslDeclared_) {
        TextKeys::Append(answer, "MaxRecvDataSegmentLength",
                         std::to_string(SessionParameters::TargetMaxRecvDataSegment));
        mrdslDeclared_ = true;
    }
    return true;
}

bool IscsiConnection::FirstTime(const std::string& key) {
    // The only key a login may carry more than once; the initiator never sends it anyway.
    if (key == "TargetAddress") return true;
    if (std::find(loginKeys_.begin(), loginKeys_.end(), key) != loginKeys_.end()) return false;
    loginKeys_.push_back(key);
    return true;
}

bool IscsiConnection::LoginKey(const std::string& key, const std::string& value, std::vector<uint8_t>& answer,
                               uint8_t& detail, std::string& why) {
    if (key == "InitiatorName") {
        initiatorName_ = value;
    } else if (key == "InitiatorAlias") {
    } else if (key == "SessionType") {
        if (value != "Normal" && value != "Discovery") {
            why = "SessionType=" + value;
            return false;
        }
        discovery_ = value == "Discovery";
        sessionTypeSeen_ = true;
    } else if (key == "TargetName") {
        targetName_ = value;
        targetNameSeen_ = true;
    } else if (key == "AuthMethod") {
        if (!OffersNone(value)) {
            detail = 0x01;  // authentication failure: this target authenticates nobody
            why = "AuthMethod=" + value + " without None";
            return false;
        }
        TextKeys::Append(answer, key, "None");
    } else if (key.compare(0, 5, "CHAP_") == 0) {
        detail = 0x01;
        why = "CHAP offered";
        return false;
    } else {
        return Negotiate(key, value, answer, why);
    }
    return true;
}

bool IscsiConnection::Negotiate(const std::string& key, const std::string& value, std::vector<uint8_t>& answer,
                                std::string& why) {
    std::string reply;
    switch (params_.Negotiate(key, value, reply)) {
    case SessionParameters::Outcome::Answer: TextKeys::Append(answer, key, reply); break;
    case SessionParameters::Outcome::Declared: break;
    case SessionParameters::Outcome::Refused: why = key + "=" + value; return false;
    case SessionParameters::Outcome::NotHandled: TextKeys::Append(answer, key, "NotUnderstood"); break;
    }
    return true;
}

void IscsiConnection::Login(const Pdu& req) {
    const uint8_t flags = req.Flags();
    const bool transit = (flags & 0x80) != 0;
    const bool more = (flags & 0x40) != 0;
    const uint8_t csg = (flags >> 2) & 0x03;
    const uint8_t nsg = flags & 0x03;
    if (!LoginInOrder(req, transit, more, csg, nsg)) return;
    loginText_.insert(loginText_.end(), req.data.begin(), req.data.end());

    Pdu r = Pdu::Make(Pdu::LoginResponse, 0);
    memcpy(r.header + 8, isid_, 6);
    r.Put32(16, req.InitiatorTaskTag());
    if (more) {
        // The rest of the text follows; answer it once it is whole.
        r.header[1] = static_cast<uint8_t>(csg << 2);
        Stamp(r, true);
        Send(r);
        return;
    }

    std::vector<uint8_t> answer;
    if (!LoginAnswer(req, csg, answer)) return;
    if (transit && nsg == StageFullFeature) {
        if (!discovery_ && target_ == nullptr) {
            // Never reached while every key counts once; a session without its drive must not be.
            LoginFail(req, LoginInitiatorError, 0x07, "normal session without a target");
            return;
        }
        tsih_ = targets_.NewTsih();
    }
    r.header[1] = static_cast<uint8_t>((transit ? 0x80 : 0) | (csg << 2) | (transit ? nsg : 0));
    r.Put16(14, tsih_);
    r.data = answer;
    Stamp(r, true);
    Send(r);
    if (transit) {
        stage_ = nsg;
        if (stage_ == StageFullFeature) EnterFullFeature();
    }
}

bool IscsiConnection::LoginInOrder(const Pdu& req, bool transit, bool more, uint8_t csg, uint8_t nsg) {
    const bool first = loginPdus_++ == 0;
    if (first) {
        memcpy(isid_, req.header + 8, 6);
        cid_ = req.Get16(20);
        expCmdSn_ = req.CmdSn();
        statSn_ = req.Get32(28);
        if (csg != StageSecurity && csg != StageOperational) {
            LoginFail(req, LoginInitiatorError, 0x00, "first login PDU not in the security or operational stage");
            return false;
        }
        stage_ = csg;
        if (req.Get16(14) != 0) {
            // A connection added to an existing session: one connection per session here.
            LoginFail(req, LoginInitiatorError, 0x0A, "TSIH of an existing session");
            return false;
        }
    }
    if (req.header[3] > 0x00) {  // Version-min: only version 0 exists
        LoginFail(req, LoginInitiatorError, 0x05, "unsupported version");
        return false;
    }
    if (csg != stage_ || memcmp(isid_, req.header + 8, 6) != 0) {
        LoginFail(req, LoginInitiatorError, 0x00, "login PDU out of order");
        return false;
    }
    if ((transit && more) || (transit && (nsg <= csg || nsg == 2))) {
        LoginFail(req, LoginInitiatorError, 0x00, "invalid stage transition");
        return false;
    }
    if (loginText_.size() + req.data.size() > MaxLoginText) {
        LoginFail(req, LoginInitiatorError, 0x00, "login text too long");
        return false;
    }
    return true;
}

bool IscsiConnection::LoginAnswer(const Pdu& req, uint8_t stage, std::vector<uint8_t>& answer) {
    uint8_t statusClass = 0;
    uint8_t detail = 0;
    std::string why;
    const bool ok = LoginKeys(loginText_, stage, answer, statusClass, detail, why);
    loginText_.clear();
    if (!ok) {
        LoginFail(req, statusClass, detail, why.c_str());
        return false;
    }
    if (!LoginNames(req, answer)) return false;
    if (answer.size() > 8192) {
        LoginFail(req, LoginTargetError, 0x00, "login answer too long");
        return false;
    }
    return true;
}

// The names are checked once, when the first whole login text has been read.
bool IscsiConnection::LoginNames(const Pdu& req, std::vector<uint8_t>& answer) {
    if (namesChecked_) return true;
    namesChecked_ = true;
    if (initiatorName_.empty()) {
        LoginFail(req, LoginInitiatorError, 0x07, "no InitiatorName");
        return false;
    }
    if (discovery_) return true;
    if (!targetNameSeen_) {
        LoginFail(req, LoginInitiatorError, 0x07, "no TargetName");
        return false;
    }
    target_ = targets_.Find(targetName_);
    if (target_ == nullptr) {
        LoginFail(req, LoginInitiatorError, 0x03, ("no target " + targetName_).c_str());
        return false;
    }
    if (targets_.RefusesLogins(*target_)) {
        target_ = nullptr;
        LoginFail(req, LoginTargetError, 0x01, ("service unavailable: " + targetName_ + " dropped its link").c_str());
        return false;
    }
    TextKeys::Append(answer, "TargetPortalGroupTag", "1");
    return true;
}

void IscsiConnection::EnterFullFeature() {
    phase_ = Phase::FullFeature;
    // Digests start with the first PDU after the last Login Response, in both directions.
    reader_.SetDigests(params_.headerDigest, params_.dataDigest);
    reader_.SetMaxDataSegment(SessionParameters::TargetMaxRecvDataSegment);
    char isid[16];
    EventLog::HexBytes(isid_, 6, isid, sizeof isid);
    targets_.Log().Line("c%u login %s initiator=%s isid=%s tsih=%u target=%s: %s", number_,
                        discovery_ ? "discovery" : "normal", initiatorName_.c_str(), isid, tsih_,
                        target_ != nullptr ? target_->Name.c_str() : "-", params_.Describe().c_str());
    // Session reinstatement: the same initiator and ISID logging in again ends the old session.
    if (!discovery_) {
        const std::vector<IscsiConnection*> others = targets_.Connections();
        for (IscsiConnection* other : others) {
            if (other != this && other->InFullFeature() && other->target_ == target_ &&
                other->initiatorName_ == initiatorName_ && memcmp(other->isid_, isid_, 6) == 0) {
                other->ForceClose("session reinstated");
            }
        }
    }
}

}  // namespace emulator
