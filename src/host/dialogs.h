#pragma once
// Modal boxes and file dialogs through one interface: the window plugs in Qt's, the command
// line asks on the terminal, and tests script the answers and read what was shown.

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

enum class MessageIcon { None, Information, Warning, Error };

struct FileChoice {
    std::string folder;  // with its trailing separator, as file dialogs give it
    std::string file;
    // Which of the filter's file types ("A (*.mat);;B (*.bin)") was chosen, from 0.
    int type = 0;
    std::string path() const { return folder + file; }
};

// The folder the file dialogs start in: the one a file was last chosen in, whichever dialog
// it was (Open, Save As, Export, the user data file), or "" (the working folder) until then.
std::string lastFolder();
void setLastFolder(std::string folder);

class DialogProvider {
public:
    virtual ~DialogProvider() = default;
    // The text of the button chosen, or "" when the box was closed or escaped without a
    // choice, which every caller takes as "Cancel".
    virtual std::string question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                                 std::string_view defaultButton) = 0;
    // A message box; returns when the user has closed it.
    virtual void message(std::string_view text, std::string_view title, MessageIcon icon) = 0;
    // One answer per prompt, or nothing when cancelled.
    virtual std::optional<std::vector<std::string>> input(const std::vector<std::string>& prompts, std::string_view title,
                                                          const std::vector<std::string>& defaults) = 0;
    // The file chosen, or nothing when cancelled. `filter` is a pattern such as "*.mat".
    virtual std::optional<FileChoice> openFile(std::string_view filter, std::string_view title) = 0;
    virtual std::optional<FileChoice> saveFile(std::string_view filter, std::string_view title) = 0;
};

// Asks on standard error and reads the answers from standard input; without an answer
// (end of input) a box counts as closed and a dialog as cancelled.
class TerminalDialogs : public DialogProvider {
public:
    std::string question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                         std::string_view defaultButton) override;
    void message(std::string_view text, std::string_view title, MessageIcon icon) override;
    std::optional<std::vector<std::string>> input(const std::vector<std::string>& prompts, std::string_view title,
                                                  const std::vector<std::string>& defaults) override;
    std::optional<FileChoice> openFile(std::string_view filter, std::string_view title) override;
    std::optional<FileChoice> saveFile(std::string_view filter, std::string_view title) override;
};

// Answers every question with its first button and every input box with its defaults (the
// command line's --yes), telling the terminal what it answered; file dialogs are cancelled.
class AcceptingDialogs : public TerminalDialogs {
public:
    std::string question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                         std::string_view defaultButton) override;
    std::optional<std::vector<std::string>> input(const std::vector<std::string>& prompts, std::string_view title,
                                                  const std::vector<std::string>& defaults) override;
    std::optional<FileChoice> openFile(std::string_view, std::string_view) override { return std::nullopt; }
    std::optional<FileChoice> saveFile(std::string_view, std::string_view) override { return std::nullopt; }
};

// Gives the queued answers in order and records everything shown. Questions take the
// answers ("" once they run out); input boxes take the queued input answers (cancelled
// once they run out); file dialogs take the queued files (cancelled once they run out).
class ScriptedDialogs : public DialogProvider {
public:
    struct Asked {
        std::string kind;  // "question", "message", "input", "open", "save"
        std::string text, title;
        MessageIcon icon = MessageIcon::None;
        std::string folder;  // where a file dialog started (lastFolder() then)
    };
    explicit ScriptedDialogs(std::deque<std::string> answers = {}) : answers_(std::move(answers)) {}
    void queueInput(std::optional<std::vector<std::string>> answer) { inputs_.push_back(std::move(answer)); }
    void queueFile(std::optional<FileChoice> choice) { files_.push_back(std::move(choice)); }

    std::string question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                         std::string_view defaultButton) override;
    void message(std::string_view text, std::string_view title, MessageIcon icon) override;
    std::optional<std::vector<std::string>> input(const std::vector<std::string>& prompts, std::string_view title,
                                                  const std::vector<std::string>& defaults) override;
    std::optional<FileChoice> openFile(std::string_view filter, std::string_view title) override;
    std::optional<FileChoice> saveFile(std::string_view filter, std::string_view title) override;
    const std::vector<Asked>& asked() const { return asked_; }

private:
    std::optional<FileChoice> nextFile(const char* kind, std::string_view filter, std::string_view title);

    std::deque<std::string> answers_;
    std::deque<std::optional<std::vector<std::string>>> inputs_;
    std::deque<std::optional<FileChoice>> files_;
    std::vector<Asked> asked_;
};

// The provider in use (the terminal until another is set).
DialogProvider& dialogs();
std::shared_ptr<DialogProvider> dialogProvider();
void setDialogProvider(std::shared_ptr<DialogProvider> provider);

}  // namespace host
