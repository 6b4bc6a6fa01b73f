#pragma once
// Shared by the raw recovery tests: recorded message boxes and signatures built from the
// form's texts.

#include <stdexcept>
#include <string>
#include <vector>

#include "common/Messages.h"
#include "raw/SignatureRecord.h"

namespace kelvara::test {

class RecordedMessages final : public MessageService {
public:
    RecordedMessages() : previous_(setMessageService(this)) {}
    ~RecordedMessages() override { setMessageService(previous_); }
    MessageAnswer show(const std::string& text, const std::string&, MessageIcon, MessageButtons) override {
        texts.push_back(text);
        return MessageAnswer::Ok;
    }
    std::vector<std::string> texts;

private:
    MessageService* previous_;
};

inline SignatureRecord recordFrom(const SignatureFields& f) {
    SignatureRecord r;
    RecordedMessages quiet;
    if (!buildSignatureRecord(f, r)) throw std::runtime_error("bad test signature");
    if (r.sizeOffset <= 0) r.sizeOffset = -1;
    return r;
}

}  // namespace kelvara::test
