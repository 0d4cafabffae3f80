#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <QWidget>
#include <functional>

// Closes every modal message box as soon as it shows, through its OK button, and remembers
// what each one looked like. A box that never shows leaves boxes() empty.
class ModalBoxCloser
{
public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        bool hasDefaultButton = false;
        QWidget *parent = nullptr;
        bool modal = false;
    };

    ModalBoxCloser()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] { closeActiveBox(); });
        timer.start();
    }

    const QList<Box> &boxes() const { return seen; }
    std::function<void(const Box &)> whenShown; // called with each box before it is closed

private:
    void closeActiveBox()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                     box->defaultButton() != nullptr, box->parentWidget(), box->isModal()});
        if (whenShown)
            whenShown(seen.last());
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }

    QTimer timer;
    QList<Box> seen;
};
