#include "host/dialogs.h"

#include <algorithm>
#include <iostream>
#include <mutex>

#include "host/text.h"

namespace host {

namespace {

std::shared_ptr<DialogProvider>& current() {
    static std::shared_ptr<DialogProvider> provider = std::make_shared<TerminalDialogs>();
    return provider;
}

const char* iconWord(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error: return "error";
        case MessageIcon::Warning: return "warning";
        default: return "";
    }
}

std::optional<FileChoice> splitPath(const std::string& path) {
    if (path.empty()) return std::nullopt;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return FileChoice{"./", path};
    return FileChoice{path.substr(0, slash + 1), path.substr(slash + 1)};
}

std::optional<FileChoice> askForFile(std::string_view filter, std::string_view title) {
    std::cerr << title << " (" << filter << "): file name, empty to cancel: ";
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return splitPath(line);
}

}  // namespace

std::string TerminalDialogs::question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                                      std::string_view defaultButton) {
    std::cerr << title << ": " << text << " [";
    for (std::size_t i = 0; i < buttons.size(); ++i) std::cerr << (i ? "/" : "") << buttons[i];
    std::cerr << "] (default " << defaultButton << ") ";
    std::string line;
    if (!std::getline(std::cin, line)) return "";
    if (line.empty()) return std::string(defaultButton);
    for (const auto& b : buttons)
        if (equalNoCase(b, line)) return b;
    return "";
}

void TerminalDialogs::message(std::string_view text, std::string_view title, MessageIcon icon) {
    const std::string word = iconWord(icon);
    std::cerr << title << (word.empty() ? "" : " (" + word + ")") << ": " << text << "\n";
}

std::optional<std::vector<std::string>> TerminalDialogs::input(const std::vector<std::string>& prompts, std::string_view title,
                                                               const std::vector<std::string>& defaults) {
    std::cerr << title << "\n";
    std::vector<std::string> answers;
    for (std::size_t i = 0; i < prompts.size(); ++i) {
        const std::string fallback = i < defaults.size() ? defaults[i] : "";
        std::cerr << prompts[i] << " [" << fallback << "] ";
        std::string line;
        if (!std::getline(std::cin, line)) return std::nullopt;
        answers.push_back(line.empty() ? fallback : line);
    }
    return answers;
}

std::optional<FileChoice> TerminalDialogs::openFile(std::string_view filter, std::string_view title) { return askForFile(filter, title); }
std::optional<FileChoice> TerminalDialogs::saveFile(std::string_view filter, std::string_view title) { return askForFile(filter, title); }

std::string AcceptingDialogs::question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                                       std::string_view) {
    const std::string answer = buttons.empty() ? std::string() : buttons.front();
    std::cerr << title << ": " << text << " [" << answer << "]\n";
    return answer;
}

std::optional<std::vector<std::string>> AcceptingDialogs::input(const std::vector<std::string>& prompts, std::string_view,
                                                                const std::vector<std::string>& defaults) {
    std::vector<std::string> answers(prompts.size());
    for (std::size_t i = 0; i < answers.size() && i < defaults.size(); ++i) answers[i] = defaults[i];
    return answers;
}

std::string ScriptedDialogs::question(std::string_view text, std::string_view title, const std::vector<std::string>&,
                                      std::string_view) {
    asked_.push_back({"question", std::string(text), std::string(title)});
    if (answers_.empty()) return "";
    std::string answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
}

void ScriptedDialogs::message(std::string_view text, std::string_view title, MessageIcon icon) {
    asked_.push_back({"message", std::string(text), std::string(title), icon});
}

std::optional<std::vector<std::string>> ScriptedDialogs::input(const std::vector<std::string>& prompts, std::string_view title,
                                                               const std::vector<std::string>&) {
    std::string text;
    for (const auto& p : prompts) text += (text.empty() ? "" : "\n") + p;
    asked_.push_back({"input", text, std::string(title)});
    if (inputs_.empty()) return std::nullopt;
    std::optional<std::vector<std::string>> answer = inputs_.front();
    inputs_.pop_front();
    return answer;
}

std::optional<FileChoice> ScriptedDialogs::nextFile(const char* kind, std::string_view filter, std::string_view title) {
    asked_.push_back({kind, std::string(filter), std::string(title), MessageIcon::None, lastFolder()});
    if (files_.empty()) return std::nullopt;
    std::optional<FileChoice> choice = files_.front();
    files_.pop_front();
    if (choice) setLastFolder(choice->folder);
    return choice;
}

namespace {

std::mutex folderMutex;
std::string folderLastUsed;

}  // namespace

std::string lastFolder() {
    const std::lock_guard lock(folderMutex);
    return folderLastUsed;
}

void setLastFolder(std::string folder) {
    const std::lock_guard lock(folderMutex);
    folderLastUsed = std::move(folder);
}

std::optional<FileChoice> ScriptedDialogs::openFile(std::string_view filter, std::string_view title) {
    return nextFile("open", filter, title);
}
std::optional<FileChoice> ScriptedDialogs::saveFile(std::string_view filter, std::string_view title) {
    return nextFile("save", filter, title);
}

DialogProvider& dialogs() { return *current(); }
std::shared_ptr<DialogProvider> dialogProvider() { return current(); }
void setDialogProvider(std::shared_ptr<DialogProvider> provider) {
    current() = provider ? std::move(provider) : std::make_shared<TerminalDialogs>();
}

}  // namespace host
