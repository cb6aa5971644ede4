#pragma once
// Modal questions to the user through one interface: the window plugs in its message
// boxes, the command line asks on the terminal, and tests script the answers.

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class DialogProvider {
public:
    virtual ~DialogProvider() = default;
    // The text of the button chosen, or "" when the box was closed without a choice.
    virtual std::string question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                                 std::string_view defaultButton) = 0;
};

// Asks on standard error and reads the answer from standard input; without an answer
// (end of input) the box counts as closed.
class TerminalDialogs : public DialogProvider {
public:
    std::string question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                         std::string_view defaultButton) override;
};

// Answers every question with its first button (the command line's --yes), telling the
// terminal what it answered.
class AcceptingDialogs : public DialogProvider {
public:
    std::string question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                         std::string_view defaultButton) override;
};

// Gives the queued answers in order ("" once they run out) and records every question.
class ScriptedDialogs : public DialogProvider {
public:
    struct Asked {
        std::string text, title;
    };
    explicit ScriptedDialogs(std::deque<std::string> answers = {}) : answers_(std::move(answers)) {}
    std::string question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                         std::string_view defaultButton) override;
    const std::vector<Asked>& asked() const { return asked_; }

private:
    std::deque<std::string> answers_;
    std::vector<Asked> asked_;
};

// The provider in use (the terminal until another is set).
DialogProvider& dialogs();
void setDialogProvider(std::shared_ptr<DialogProvider> provider);

}  // namespace host
