#pragma once
// The message-box service. Engine code that must tell the user something ("invalid
// handle ...") calls showMessage; the front end installs the service that shows it
// (the command line prints it to stderr, tests record it and answer from a queue).

#include <string>

namespace kelvara {

inline constexpr const char* kApplicationTitle = "Kelvara Data Recovery 1.0";

enum class MessageIcon { Information, Question, Warning, Error };
enum class MessageButtons { Ok, YesNo, OkCancel };
enum class MessageAnswer { Ok, Yes, No, Cancel };

class MessageService {
public:
    virtual ~MessageService() = default;
    virtual MessageAnswer show(const std::string& text, const std::string& caption,
                               MessageIcon icon, MessageButtons buttons) = 0;
};

// Installs the process's message service (nullptr restores the default, which writes
// to stderr and answers Ok/Yes). Returns the previous one.
MessageService* setMessageService(MessageService* service);
MessageService& messageService();

// Shows text with the application title as caption.
MessageAnswer showMessage(const std::string& text, MessageIcon icon = MessageIcon::Information,
                          MessageButtons buttons = MessageButtons::Ok);

}  // namespace kelvara
