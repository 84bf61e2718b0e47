#include "screen/QtAlertService.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include "controller/MainThread.h"

namespace orvento {

QtAlertService::QtAlertService() : shared_(std::make_shared<Shared>()) {}

void QtAlertService::setParentWindow(QWidget* window) {
    shared_->parent = window;
}

void QtAlertService::showBox(Shared& shared, const QString& title, const QString& message,
                             const QString& button) {
    auto* box = new QMessageBox(QMessageBox::Warning, title, message, QMessageBox::NoButton,
                                shared.parent.data());
    // The one button is the cancel button: Escape dismisses the box too.
    box->setDefaultButton(box->addButton(button, QMessageBox::RejectRole));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->setTextFormat(Qt::PlainText);
    box->show();
}

void QtAlertService::showAlert(const std::string& title, const std::string& message,
                               const std::string& button) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    const QString qTitle = QString::fromStdString(title);
    const QString qMessage = QString::fromStdString(message);
    const QString qButton = QString::fromStdString(button);
    if (QThread::currentThread() == app->thread()) {
        bool closed = false;
        {
            std::lock_guard lock(shared_->mutex);
            closed = shared_->closed;
        }
        if (!closed) {
            showBox(*shared_, qTitle, qMessage, qButton);
        }
        return;
    }

    auto done = std::make_shared<bool>(false);  // guarded by shared_->mutex
    postToMainThread(app, [shared = shared_, done, qTitle, qMessage, qButton] {
        std::unique_lock lock(shared->mutex);
        if (!shared->closed) {
            lock.unlock();
            showBox(*shared, qTitle, qMessage, qButton);
            lock.lock();
        }
        *done = true;
        shared->shown.notify_all();
    });
    std::unique_lock lock(shared_->mutex);
    shared_->shown.wait(lock, [&] { return *done || shared_->closed; });
}

void QtAlertService::close() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->closed = true;
    }
    shared_->shown.notify_all();
}

}  // namespace orvento
