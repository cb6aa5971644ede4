#pragma once
// The modal boxes and file dialogs of the windows, on Qt.

#include "host/dialogs.h"

namespace windows::gui {

using host::FileChoice;
using host::MessageIcon;

class QtDialogs : public host::DialogProvider {
public:
    std::string question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                         std::string_view defaultButton) override;
    void message(std::string_view text, std::string_view title, MessageIcon icon) override;
    std::optional<std::vector<std::string>> input(const std::vector<std::string>& prompts, std::string_view title,
                                                  const std::vector<std::string>& defaults) override;
    std::optional<FileChoice> openFile(std::string_view filter, std::string_view title) override;
    std::optional<FileChoice> saveFile(std::string_view filter, std::string_view title) override;
};

}  // namespace windows::gui
