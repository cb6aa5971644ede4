#include "host/dialogs.h"

#include <iostream>

namespace host {

namespace {
std::shared_ptr<DialogProvider>& current() {
    static std::shared_ptr<DialogProvider> provider = std::make_shared<TerminalDialogs>();
    return provider;
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
        if (b.size() == line.size() && std::equal(b.begin(), b.end(), line.begin(), [](char a, char c) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(c));
            }))
            return b;
    return "";
}

std::string AcceptingDialogs::question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                                       std::string_view) {
    const std::string answer = buttons.empty() ? std::string() : buttons.front();
    std::cerr << title << ": " << text << " [" << answer << "]\n";
    return answer;
}

std::string ScriptedDialogs::question(std::string_view text, std::string_view title, const std::vector<std::string>&,
                                      std::string_view) {
    asked_.push_back({std::string(text), std::string(title)});
    if (answers_.empty()) return "";
    std::string answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
}

DialogProvider& dialogs() { return *current(); }
void setDialogProvider(std::shared_ptr<DialogProvider> provider) {
    current() = provider ? std::move(provider) : std::make_shared<TerminalDialogs>();
}

}  // namespace host
