#include "common/Messages.h"

#include <atomic>
#include <cstdio>

#include "common/ProgressSink.h"

namespace kelvara {
namespace {

class StderrMessageService final : public MessageService {
public:
    MessageAnswer show(const std::string& text, const std::string& caption, MessageIcon,
                       MessageButtons buttons) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
};

StderrMessageService& defaultService() {
    static StderrMessageService service;
    return service;
}

std::atomic<MessageService*> currentService{nullptr};

}  // namespace

MessageService* setMessageService(MessageService* service) {
    return currentService.exchange(service);
}

MessageService& messageService() {
    MessageService* s = currentService.load();
    return s ? *s : defaultService();
}

MessageAnswer showMessage(const std::string& text, MessageIcon icon, MessageButtons buttons) {
    return messageService().show(text, kApplicationTitle, icon, buttons);
}

NullProgressSink& nullProgressSink() {
    static NullProgressSink sink;
    return sink;
}

}  // namespace kelvara
