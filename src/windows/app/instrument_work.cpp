#include "windows/app/instrument_work.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>

#include "host/dialogs.h"
#include "host/error.h"
#include "host/interrupt.h"
#include "windows/gui/graphics.h"

namespace windows::app {

namespace {

QPointer<QWidget> progressWindow;

// The provider of the window thread, reached from the work's thread: each box is shown on
// the window thread (which keeps its event loop running) while the work waits for the answer.
class WindowThreadDialogs : public host::DialogProvider {
public:
    explicit WindowThreadDialogs(std::shared_ptr<host::DialogProvider> inner) : inner_(std::move(inner)) {}

    std::string question(std::string_view text, std::string_view title, const std::vector<std::string>& buttons,
                         std::string_view defaultButton) override {
        std::string answer;
        onWindowThread([&] { answer = inner_->question(text, title, buttons, defaultButton); });
        return answer;
    }
    void message(std::string_view text, std::string_view title, host::MessageIcon icon) override {
        onWindowThread([&] { inner_->message(text, title, icon); });
    }
    std::optional<std::vector<std::string>> input(const std::vector<std::string>& prompts, std::string_view title,
                                                  const std::vector<std::string>& defaults) override {
        std::optional<std::vector<std::string>> answer;
        onWindowThread([&] { answer = inner_->input(prompts, title, defaults); });
        return answer;
    }
    std::optional<host::FileChoice> openFile(std::string_view filter, std::string_view title) override {
        std::optional<host::FileChoice> answer;
        onWindowThread([&] { answer = inner_->openFile(filter, title); });
        return answer;
    }
    std::optional<host::FileChoice> saveFile(std::string_view filter, std::string_view title) override {
        std::optional<host::FileChoice> answer;
        onWindowThread([&] { answer = inner_->saveFile(filter, title); });
        return answer;
    }

private:
    template <class Call>
    void onWindowThread(Call&& call) {
        if (QThread::currentThread() == qApp->thread())
            call();
        else
            QMetaObject::invokeMethod(qApp, [&] { call(); }, Qt::BlockingQueuedConnection);
    }
    std::shared_ptr<host::DialogProvider> inner_;
};

// The progress window "Instrument", from its layout: the step, the bytes of a block sent of
// the total, and Cancel. Cancel, Escape and the window's frame ask the work to stop once; the
// window goes when the work has ended.
class ProgressDialog : public QDialog {
public:
    ProgressDialog() {
        setObjectName("instrumentProgress");
        QWidget* form = windows::gui::loadLayoutWidget("SX_Progress", this);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(form);
        setWindowTitle(form->windowTitle());
        resize(form->size());
        setWindowModality(Qt::ApplicationModal);
        step_ = findChild<QLabel*>("lblStep");
        bytes_ = findChild<QLabel*>("lblBytes");
        bar_ = findChild<QProgressBar*>("progressBytes");
        cancel_ = findChild<QPushButton*>("pbCancel");
        QObject::connect(cancel_, &QPushButton::clicked, this, [this] { askToStop(); });
    }
    bool closable = false;

    // What the work says it is doing, until a stop has been asked for.
    void showProgress(const host::ProgressState& now) {
        if (cancelling_) return;
        step_->setText(QString::fromStdString(now.step));
        if (now.total > 0) {
            bar_->setRange(0, 1000);
            bar_->setValue(static_cast<int>(1000.0 * static_cast<double>(now.done) / static_cast<double>(now.total)));
            bytes_->setText(QString::fromStdString(host::bytesSentText(now)));
        } else {
            bar_->setRange(0, 0);  // busy, no block yet
            bytes_->clear();
        }
    }
    void bringUp() {
        show();
        raise();
        activateWindow();
        cancel_->setFocus();
    }

protected:
    void reject() override {
        if (closable)
            QDialog::reject();
        else
            askToStop();
    }
    void closeEvent(QCloseEvent* event) override {
        if (closable) return QDialog::closeEvent(event);
        event->ignore();
        askToStop();
    }

private:
    void askToStop() {
        if (cancelling_) return;
        cancelling_ = true;
        host::requestInterrupt();
        cancel_->setEnabled(false);
        step_->setText("Cancelling...");
    }
    QLabel *step_ = nullptr, *bytes_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool cancelling_ = false;
};

}  // namespace

QWidget* instrumentProgressWindow() { return progressWindow.data(); }

void runInstrumentWork(const std::function<void()>& work) {
    // The window is modal while work runs, so a second run can only come from a callback the
    // work itself set off; it would wait for the first forever.
    static bool running = false;
    if (running) throw host::Error("The instrument is busy with the previous command.");
    running = true;
    struct Running {
        ~Running() { running = false; }
    } runningUntilReturn;
    host::clearInterrupt();
    host::setProgressStep("Starting");
    const std::shared_ptr<host::DialogProvider> windowDialogs = host::dialogProvider();
    host::setDialogProvider(std::make_shared<WindowThreadDialogs>(windowDialogs));

    std::atomic<bool> finished{false};
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        finished.store(true);
    });

    auto* dialog = new ProgressDialog;
    QEventLoop loop;
    QTimer tick;
    auto update = [&] {
        if (finished.load()) return loop.quit();
        dialog->showProgress(host::progressState());
    };
    QObject::connect(&tick, &QTimer::timeout, &loop, update);
    tick.start(50);
    // Work that ends at once (an instrument that answers) shows no window flashing by. Until
    // the window is up, clicks and keys wait: the window is not modal yet, and a second
    // Download pressed meanwhile must not start inside this one. They reach the windows once
    // it is up, which then takes them as it takes any click outside a modal window.
    QTimer showLater;
    showLater.setSingleShot(true);
    QObject::connect(&showLater, &QTimer::timeout, &loop, [&] { loop.quit(); });
    showLater.start(250);
    if (!finished.load()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!finished.load()) {
        progressWindow = dialog;
        update();
        dialog->bringUp();
        loop.exec();
    }
    tick.stop();
    worker.join();

    dialog->closable = true;
    progressWindow = nullptr;
    dialog->hide();
    dialog->deleteLater();
    host::setDialogProvider(windowDialogs);
    host::clearInterrupt();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace windows::app
