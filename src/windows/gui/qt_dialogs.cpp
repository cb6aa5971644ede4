#include "windows/gui/qt_dialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "windows/gui/graphics.h"

namespace windows::gui {

namespace {

QString qt(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// A button's text as given: Qt would take an "&" for the mark of an access key.
QString literalLabel(std::string_view s) { return qt(s).replace(QLatin1Char('&'), QLatin1String("&&")); }

// What a file dialog gave, the folder remembered for the next one.
std::optional<FileChoice> choice(const QString& path, const QString& filter = {}, const QString& selectedFilter = {}) {
    if (path.isEmpty()) return std::nullopt;
    const QFileInfo info(path);
    FileChoice c{info.absolutePath().toStdString() + "/", info.fileName().toStdString()};
    c.type = std::max(0, static_cast<int>(filter.split(";;").indexOf(selectedFilter)));
    host::setLastFolder(c.folder);
    return c;
}

QString startFolder() { return qt(host::lastFolder()); }  // "" is the working folder

}  // namespace

std::string QtDialogs::question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                                std::string_view defaultButton) {
    ensureApplication();
    // A dialog of its own rather than a message box: closing it by its frame must count as
    // no choice, which a message box without an escape button does not allow.
    QDialog dialog;
    dialog.setWindowTitle(qt(title));
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(qt(text));
    label->setTextFormat(Qt::PlainText);  // an instrument's "<...>" is text, not markup
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* row = new QDialogButtonBox;
    std::string chosen;
    for (const auto& b : buttons) {
        QPushButton* button = row->addButton(literalLabel(b), QDialogButtonBox::ActionRole);
        button->setAutoDefault(false);
        if (b == defaultButton) {
            button->setDefault(true);
            button->setFocus();
        }
        QObject::connect(button, &QPushButton::clicked, &dialog, [&dialog, &chosen, b] {
            chosen = b;
            dialog.accept();
        });
    }
    layout->addWidget(row);
    dialog.exec();
    return chosen;  // "" when closed or escaped without a choice
}

void QtDialogs::message(std::string_view text, std::string_view title, MessageIcon icon) {
    ensureApplication();
    const QMessageBox::Icon qIcon = icon == MessageIcon::Error     ? QMessageBox::Critical
                                    : icon == MessageIcon::Warning ? QMessageBox::Warning
                                    : icon == MessageIcon::None    ? QMessageBox::NoIcon
                                                                   : QMessageBox::Information;
    QMessageBox box(qIcon, qt(title), qt(text), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

std::optional<std::vector<std::string>> QtDialogs::input(const std::vector<std::string>& prompts, std::string_view title,
                                                         const std::vector<std::string>& defaults) {
    ensureApplication();
    QDialog dialog;
    dialog.setWindowTitle(qt(title));
    auto* layout = new QVBoxLayout(&dialog);
    std::vector<QLineEdit*> edits;
    for (std::size_t i = 0; i < prompts.size(); ++i) {
        auto* prompt = new QLabel(qt(prompts[i]));
        prompt->setTextFormat(Qt::PlainText);
        auto* edit = new QLineEdit(i < defaults.size() ? qt(defaults[i]) : QString());
        prompt->setBuddy(edit);  // screen readers name the box by its prompt
        layout->addWidget(prompt);
        layout->addWidget(edit);
        edits.push_back(edit);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    std::vector<std::string> answers;
    for (QLineEdit* e : edits) answers.push_back(e->text().toStdString());
    return answers;
}

std::optional<FileChoice> QtDialogs::openFile(std::string_view filter, std::string_view title) {
    ensureApplication();
    return choice(QFileDialog::getOpenFileName(nullptr, qt(title), startFolder(), qt(filter)));
}

std::optional<FileChoice> QtDialogs::saveFile(std::string_view filter, std::string_view title) {
    ensureApplication();
    QString selected;
    const QString path = QFileDialog::getSaveFileName(nullptr, qt(title), startFolder(), qt(filter), &selected);
    return choice(path, qt(filter), selected);
}

}  // namespace windows::gui
