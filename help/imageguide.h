// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace Ui {
class ImageGuide;
}

// The guide window: three pictures shown one at a time, the next one at each press of its
// button. The layout opens on the first picture; the cycle starts at 1 so that the first press
// shows the second.
class ImageGuide : public QWidget {
    Q_OBJECT

public:
    explicit ImageGuide(QWidget *parent = nullptr);
    ~ImageGuide() override;

    qint64 state() const { return state_; }
    void setState(qint64 state) { state_ = state; }
    QLabel *imView() const { return imView_; }
    void setImView(QLabel *imView) { imView_ = imView; }

public slots:
    void prevIm();

private:
    std::unique_ptr<Ui::ImageGuide> ui_;
    qint64 state_ = 1;
    QPointer<QLabel> imView_;
};
